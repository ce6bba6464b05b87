#include <QApplication>

#include "app/KorrinApp.h"
#include "app/Resources.h"

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("korrin"));
    QApplication::setWindowIcon(korrin::res::LoadIcon(korrin::res::kProgramIcon));
    korrin::CKorrinApp theApp;
    return theApp.InitInstance(korrin::JoinArguments(argc, argv));
}
