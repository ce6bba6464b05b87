// main() for the tests that need a QApplication (dialogs, message boxes, window messages).
// Reports and boxes go through the program's dialog sink, as in the program.
#include <gtest/gtest.h>

#include <QApplication>

#include "korrin/ui/ReportDlg.h"

int main(int argc, char** argv) {
    ::testing::InitGoogleTest(&argc, argv);
    // Listing the cases (ctest's discovery) needs no window system.
    if (::testing::GTEST_FLAG(list_tests))
        return RUN_ALL_TESTS();
    QApplication app(argc, argv);
    korrin::InstallDialogReportSink();
    return RUN_ALL_TESTS();
}
