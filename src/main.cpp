#include <QApplication>

#include <cstdio>

int main(int argc, char* argv[])
{
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Vorantu"));
    QApplication::setApplicationVersion(QStringLiteral(VORANTU_VERSION));
    std::fprintf(stderr, "Vorantu %s: the main window is not part of this build yet.\n",
                 VORANTU_VERSION);
    return 0;
}
