#include "app/ProgramFileWatch.h"

#include <QFile>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <cstdio>

namespace {

constexpr int GraceMs = 300;

void Write(const QString& path, const QByteArray& data)
{
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
    QCOMPARE(file.write(data), data.size());
}

} // namespace

class TestProgramFileWatch : public QObject
{
    Q_OBJECT

private slots:
    // What a package manager or a build does to the program file, and
    // whether the running instance should take it for a removal. Every case
    // ends with a plain removal, which must be reported exactly once: so a
    // watch that lost track of a replaced file fails too.
    void ReportsOnlyRemoval_data()
    {
        QTest::addColumn<QString>("before");
        QTest::newRow("removed") << "";
        QTest::newRow("replaced by rename (upgrade)") << "rename";
        QTest::newRow("removed and written again (relink)") << "rewrite";
        QTest::newRow("changed in place") << "modify";
    }
    void ReportsOnlyRemoval()
    {
        QFETCH(QString, before);
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("vorantu"));
        Write(path, "old");
        int gone = 0;
        TProgramFileWatch watch(
            path, [&gone] { ++gone; }, GraceMs);

        if (before == QLatin1String("rename")) {
            Write(path + QStringLiteral(".new"), "new");
            QCOMPARE(std::rename(QFile::encodeName(path + QStringLiteral(".new")).constData(),
                                 QFile::encodeName(path).constData()),
                     0);
        } else if (before == QLatin1String("rewrite")) {
            QVERIFY(QFile::remove(path));
            Write(path, "new");
        } else if (before == QLatin1String("modify")) {
            Write(path, "changed");
        }
        if (!before.isEmpty()) {
            // Longer than the grace: a false report would have come by now.
            QTest::qWait(GraceMs * 3);
            QCOMPARE(gone, 0);
        }

        QVERIFY(QFile::remove(path));
        QTRY_COMPARE_WITH_TIMEOUT(gone, 1, 5000);
        QTest::qWait(GraceMs * 2);
        QCOMPARE(gone, 1);
    }

    void IgnoresMissingFile()
    {
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("vorantu"));
        int gone = 0;
        TProgramFileWatch watch(
            path, [&gone] { ++gone; }, GraceMs);
        Write(path, "late");
        QVERIFY(QFile::remove(path));
        QTest::qWait(GraceMs * 3);
        QCOMPARE(gone, 0);
    }
};

QTEST_GUILESS_MAIN(TestProgramFileWatch)
#include "tst_ProgramFileWatch.moc"
