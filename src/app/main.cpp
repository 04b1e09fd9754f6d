#include <QApplication>
#include <QWidget>

int main(int argc, char* argv[]) {
    QApplication app(argc, argv);
    QWidget finestra;
    finestra.setWindowTitle(QStringLiteral("QVR - 3.7.2 - Modulo Client"));
    finestra.show();
    return app.exec();
}
