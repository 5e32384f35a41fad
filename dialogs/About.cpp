#include "About.h"

#include "Fonts.h"
#include "MessageBox.h"
#include "Pictures.h"

#include <QPlainTextEdit>
#include <QPushButton>

namespace vg57 {
namespace {

// Places of the design, in pixels of the client area.
constexpr int kMargin = 8;
const QRect kLogo(kMargin, kMargin, 209, 121);
const QRect kText(13, 145, 577, 289);
const QSize kButton(75, 25);

} // namespace

QString AboutText() {
    const QString site = QString::fromLatin1(kDistributorUrl);
    return QStringLiteral(
               "Программа предназначена для считывания и архивирования показаний "
               "широкодиапазонного моноблочного вакуумметра BAROMAX VG-57, а также для "
               "управления им.\n"
               "\n"
               "Версия %2. Распространяется на условиях GNU General Public License версии 3 "
               "или более поздней.\n"
               "\n"
               "Разработчик программы: проект vg57\n"
               "Дистрибьютор: %1\n"
               "\n"
               "Перед началом работы с прибором и программой внимательно ознакомьтесь с "
               "руководством по эксплуатации вакуумметра. Программа дублирует функции самого "
               "прибора: она позволяет управлять вакуумметром дистанционно, с персонального "
               "компьютера, и архивировать результаты измерений. По вопросам технической "
               "поддержки и обучения обращайтесь к дистрибьютору.\n"
               "\n"
               "Благодарим вас за выбор продукции производителя вакуумметра и дистрибьютора!")
        .arg(site, QStringLiteral(VG57_VERSION));
}

TAboutForm::TAboutForm(QWidget* owner, TPageOpener openPage)
    : QDialog(owner, kDialogFrame), openPage_(std::move(openPage)), image1_(new TLinkLabel(this)),
      staticText1_(new TLinkLabel(this)), richEdit1_(new QPlainTextEdit(this)),
      btnClose_(new QPushButton(QStringLiteral("Закрыть"), this)) {
    setWindowTitle(QStringLiteral("Программа управления прибором Baromax VG-57"));
    setFont(WindowFont());
    setFixedSize(kClientWidth, kClientHeight);

    image1_->setGeometry(kLogo);
    image1_->setPixmap(LogoPicture(kLogo.size(), devicePixelRatioF()));
    connect(image1_, &TLinkLabel::clicked, this, &TAboutForm::Image1Click);

    // Right of the logo, its lower edge level with the logo's.
    ShowAsAddressLink(staticText1_, QString::fromLatin1(kDistributorUrl));
    staticText1_->move(kLogo.right() + 1 + 2 * kMargin,
                       kLogo.bottom() + 1 - staticText1_->height());
    connect(staticText1_, &TLinkLabel::clicked, this, &TAboutForm::StaticText1Click);

    richEdit1_->setGeometry(kText);
    richEdit1_->setReadOnly(true);
    richEdit1_->setFrameShape(QFrame::NoFrame);
    // Text on the window's face, as printed matter rather than an input field.
    QPalette face = richEdit1_->palette();
    face.setColor(QPalette::Base, palette().color(QPalette::Window));
    richEdit1_->setPalette(face);
    // Not a stop of the Tab chain; a click focuses it for copying, and being read-only it
    // passes Enter and Escape on to the box.
    richEdit1_->setFocusPolicy(Qt::ClickFocus);
    richEdit1_->setPlainText(AboutText());

    btnClose_->setGeometry(QRect(QPoint((kClientWidth - kButton.width()) / 2,
                                        kClientHeight - kButton.height() - 2 * kMargin),
                                 kButton));
    // Default (Enter) and cancel (Escape, which QDialog maps to reject) alike close the box.
    btnClose_->setDefault(true);
    btnClose_->setAutoDefault(true);
    connect(btnClose_, &QPushButton::clicked, this, &QDialog::accept);
    btnClose_->setFocus();
}

void TAboutForm::Image1Click() {
    if (openPage_) openPage_(QString::fromLatin1(kDistributorUrl));
}

void TAboutForm::StaticText1Click() {
    if (openPage_) openPage_(QString::fromLatin1(kDistributorUrl));
}

} // namespace vg57
