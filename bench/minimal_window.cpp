// The start-up and memory baseline: the least a Qt 6 Widgets program does to
// show a window, at the size Velantro's window opens with.

#include <QApplication>
#include <QWidget>

int main(int argc, char** argv) {
    QApplication application(argc, argv);
    QWidget window;
    window.setWindowTitle(QStringLiteral("Minimal window"));
    window.resize(380, 338);
    window.show();
    return application.exec();
}
