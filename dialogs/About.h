// The about box: the distributor's logo and address as links, the program's description with
// the developer's and the distributor's details, and a Close button that Enter and Escape press.
#pragma once

#include "LinkLabel.h"
#include "WebLink.h"

#include <QDialog>
#include <QString>

class QPlainTextEdit;
class QPushButton;

namespace vg57 {

// The description shown in the box, line by line.
QString AboutText();

class TAboutForm : public QDialog {
    Q_OBJECT
public:
    // Client area of the design; the box can't be resized.
    static constexpr int kClientWidth = 603;
    static constexpr int kClientHeight = 496;

    // `openPage` is what the logo and the address call with the distributor's address; by
    // default the desktop's browser.
    explicit TAboutForm(QWidget* owner, TPageOpener openPage = OpenWebAddress);

    TLinkLabel* Image1() const { return image1_; }
    TLinkLabel* StaticText1() const { return staticText1_; }
    QPlainTextEdit* RichEdit1() const { return richEdit1_; }
    QPushButton* btnClose() const { return btnClose_; }

private:
    void Image1Click();
    void StaticText1Click();

    TPageOpener openPage_;
    TLinkLabel* image1_;
    TLinkLabel* staticText1_;
    QPlainTextEdit* richEdit1_;
    QPushButton* btnClose_;
};

} // namespace vg57
