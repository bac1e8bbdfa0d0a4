#pragma once

#include <QApplication>
#include <QTemporaryDir>
#include <QtTest>

// A private home, configuration, runtime and desktop folder for one test
// program, made before the application object so Qt and the code under test
// only ever see these. Removed when the program ends.
class TTestEnvironment
{
public:
    TTestEnvironment();

    QString Root() const { return FRoot.path(); }
    QString Home() const { return FRoot.path() + QStringLiteral("/home"); }
    QString ConfigHome() const { return FRoot.path() + QStringLiteral("/config"); }
    QString RuntimeDir() const { return FRoot.path() + QStringLiteral("/runtime"); }
    QString Desktop() const { return Home() + QStringLiteral("/Desktop"); }

private:
    QTemporaryDir FRoot;
};

// main() for a QtTest program that runs in a private test environment.
#define VORANTU_TEST_MAIN(TestObject)                                                              \
    int main(int argc, char* argv[])                                                               \
    {                                                                                              \
        TTestEnvironment environment;                                                              \
        QApplication app(argc, argv);                                                              \
        app.setAttribute(Qt::AA_Use96Dpi, true);                                                   \
        TestObject tc;                                                                             \
        QTEST_SET_MAIN_SOURCE_PATH                                                                 \
        return QTest::qExec(&tc, argc, argv);                                                      \
    }
