# Shared precompiled headers. Half of each compile under the sanitizers went into parsing the same
# Qt, GoogleTest and standard headers again; every target that uses Qt now reuses one of four
# precompiled sets, chosen by what it links. Off with -DVG57_PCH=OFF (a header a file forgot to
# include then shows).
option(VG57_PCH "Reuse precompiled Qt, GoogleTest and standard headers" ON)

set(_vg57_pch_std <algorithm> <array> <atomic> <charconv> <chrono> <cmath> <cstdint> <cstring>
    <deque> <filesystem> <fstream> <functional> <limits> <map> <memory> <mutex> <optional>
    <set> <string> <string_view> <thread> <utility> <vector>)
set(_vg57_pch_core ${_vg57_pch_std} <QCoreApplication> <QDateTime> <QDir> <QFile> <QFileInfo>
    <QObject> <QPointer> <QString> <QStringList> <QTimeZone> <QTimer>)
set(_vg57_pch_widgets ${_vg57_pch_core} <QtWidgets> <qcustomplot.h>)

# A target that only builds the precompiled set `name` with what `libs` bring (their definitions
# and position-independence must be made by every target reusing it, or the compiler passes the
# set over and says so).
function(_vg57_pch_provider name headers)
    add_library(${name} OBJECT ${PROJECT_SOURCE_DIR}/cmake/pch/Empty.cpp)
    target_link_libraries(${name} PRIVATE ${ARGN})
    set_target_properties(${name} PROPERTIES AUTOMOC OFF)
    target_precompile_headers(${name} PRIVATE ${${headers}})
endfunction()

# Every target declared in `dir` and below.
function(_vg57_targets_below dir out)
    get_property(found DIRECTORY ${dir} PROPERTY BUILDSYSTEM_TARGETS)
    get_property(subdirs DIRECTORY ${dir} PROPERTY SUBDIRECTORIES)
    foreach(sub IN LISTS subdirs)
        _vg57_targets_below(${sub} below)
        list(APPEND found ${below})
    endforeach()
    set(${out} ${found} PARENT_SCOPE)
endfunction()

# What `target` links, directly and through the targets it links, as plain names.
function(_vg57_link_closure target out)
    set(seen)
    set(todo ${target})
    while(todo)
        list(POP_FRONT todo t)
        if(NOT TARGET ${t} OR t IN_LIST seen)
            continue()
        endif()
        list(APPEND seen ${t})
        get_target_property(type ${t} TYPE)
        set(links)
        if(NOT type STREQUAL "INTERFACE_LIBRARY")
            get_target_property(direct ${t} LINK_LIBRARIES)
            if(direct)
                list(APPEND links ${direct})
            endif()
        endif()
        get_target_property(iface ${t} INTERFACE_LINK_LIBRARIES)
        if(iface)
            list(APPEND links ${iface})
        endif()
        foreach(l IN LISTS links)
            string(REGEX REPLACE "^\\$<LINK_ONLY:(.*)>$" "\\1" l "${l}")
            if(NOT l MATCHES "^\\$<")
                list(APPEND todo ${l})
            endif()
        endforeach()
    endwhile()
    set(${out} ${seen} PARENT_SCOPE)
endfunction()

function(vg57_reuse_precompiled_headers)
    if(NOT VG57_PCH)
        return()
    endif()
    _vg57_pch_provider(vg57_pch_core _vg57_pch_core Qt6::Core)
    _vg57_pch_provider(vg57_pch_core_test _vg57_pch_core Qt6::Core GTest::gtest)
    # Only Qt Widgets' own definitions: a definition the set was built with must be made by every
    # target reusing it, and some widget targets print nothing and draw no SVG.
    _vg57_pch_provider(vg57_pch_widgets _vg57_pch_widgets Qt6::Widgets)
    _vg57_pch_provider(vg57_pch_widgets_test _vg57_pch_widgets Qt6::Widgets GTest::gtest)
    target_precompile_headers(vg57_pch_core_test PRIVATE <gtest/gtest.h>)
    target_precompile_headers(vg57_pch_widgets_test PRIVATE <gtest/gtest.h>)

    _vg57_targets_below(${PROJECT_SOURCE_DIR} targets)
    foreach(t IN LISTS targets)
        get_target_property(type ${t} TYPE)
        if(NOT type MATCHES "^(EXECUTABLE|STATIC_LIBRARY|OBJECT_LIBRARY)$" OR t MATCHES "^vg57_pch_")
            continue()
        endif()
        _vg57_link_closure(${t} links)
        if("Qt6::Widgets" IN_LIST links)
            set(kind widgets)
        elseif("Qt6::Core" IN_LIST links)
            set(kind core)
        else()
            continue()
        endif()
        if("GTest::gtest" IN_LIST links OR "GTest::gtest_main" IN_LIST links)
            string(APPEND kind _test)
        endif()
        target_precompile_headers(${t} REUSE_FROM vg57_pch_${kind})
    endforeach()
endfunction()
