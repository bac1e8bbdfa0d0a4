#include "TestEnvironment.h"
#include "app/FileName.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

namespace {

void Touch(const QString& folder, const QStringList& names)
{
    for (const QString& name : names) {
        QFile file(folder + '/' + name);
        QVERIFY(file.open(QIODevice::WriteOnly));
    }
}

QString NameOnly(const QString& path)
{
    return QFileInfo(path).fileName();
}

} // namespace

class TTestFileName : public QObject
{
    Q_OBJECT
private slots:
    void Sequential_data()
    {
        QTest::addColumn<QStringList>("existing");
        QTest::addColumn<QStringList>("directories");
        QTest::addColumn<int>("append");
        QTest::addColumn<QString>("ext");
        QTest::addColumn<QString>("expected");

        QTest::newRow("#1 empty") << QStringList() << QStringList() << 1 << "png"
                                  << "V-001.png";
        QTest::newRow("#2 empty") << QStringList() << QStringList() << 3 << "png"
                                  << "V-001.png";
        const QStringList gaps = {"V-001.png", "V-002.png", "V-010.png"};
        QTest::newRow("#1 continues after the highest") << gaps << QStringList() << 1 << "png"
                                                        << "V-011.png";
        QTest::newRow("#2 fills the first gap") << gaps << QStringList() << 3 << "png"
                                                << "V-003.png";
        QTest::newRow("#1 counts across extensions")
            << QStringList{"V-007.jpg"} << QStringList() << 1 << "png"
            << "V-008.png";
        QTest::newRow("#2 counts per extension")
            << QStringList{"V-001.jpg"} << QStringList() << 3 << "png"
            << "V-001.png";
        QTest::newRow("past 999") << QStringList{"V-999.png"} << QStringList() << 1 << "png"
                                  << "V-1000.png";
        QTest::newRow("past 1000")
            << QStringList{"V-999.png", "V-1000.png"} << QStringList() << 1 << "mp4"
            << "V-1001.mp4";
        QTest::newRow("lower-case prefix ignored")
            << QStringList{"v-050.png"} << QStringList() << 1 << "png"
            << "V-001.png";
        QTest::newRow("non-numbers ignored")
            << QStringList{"V-abc.png", "V-12", "V-.png", "X-500.png"} << QStringList() << 1
            << "png"
            << "V-001.png";
        QTest::newRow("first dot ends the number")
            << QStringList{"V-005.old.png"} << QStringList() << 1 << "png"
            << "V-006.png";
        QTest::newRow("directories are not counted")
            << QStringList() << QStringList{"V-400.d"} << 1 << "png"
            << "V-001.png";
        QTest::newRow("a directory does not block a name")
            << QStringList() << QStringList{"V-001.png"} << 3 << "png"
            << "V-001.png";
    }

    void Sequential()
    {
        QFETCH(QStringList, existing);
        QFETCH(QStringList, directories);
        QFETCH(int, append);
        QFETCH(QString, ext);
        QFETCH(QString, expected);
        QTemporaryDir dir;
        Touch(dir.path(), existing);
        for (const QString& d : directories)
            QDir(dir.path()).mkdir(d);
        const QString path = NewFilename(dir.path(), NamingModeFromSetting(append), ext);
        QCOMPARE(path, dir.path() + '/' + expected);
    }

    void SequentialOneKeepsGrowing()
    {
        QTemporaryDir dir;
        Touch(dir.path(), {"V-999.png"});
        const QString first = NewFilename(dir.path(), TNamingMode::Sequential1, "png");
        QCOMPARE(NameOnly(first), QStringLiteral("V-1000.png"));
        Touch(dir.path(), {NameOnly(first)});
        QCOMPARE(NameOnly(NewFilename(dir.path(), TNamingMode::Sequential1, "png")),
                 QStringLiteral("V-1001.png"));
    }

    void SequentialTwoFillsThenAppends()
    {
        QTemporaryDir dir;
        Touch(dir.path(), {"V-001.png", "V-003.png"});
        const QString gap = NewFilename(dir.path(), TNamingMode::Sequential2, "png");
        QCOMPARE(NameOnly(gap), QStringLiteral("V-002.png"));
        Touch(dir.path(), {NameOnly(gap)});
        QCOMPARE(NameOnly(NewFilename(dir.path(), TNamingMode::Sequential2, "png")),
                 QStringLiteral("V-004.png"));
    }

    void ScanHighest()
    {
        QTemporaryDir dir;
        QCOMPARE(ScanHighestNumber(dir.path()), 0);
        QCOMPARE(ScanHighestNumber(dir.path() + "/missing"), 0);
        Touch(dir.path(), {"V-042.txt", "V-7.png", "V-abc.png", ".V-900.png"});
        QCOMPARE(ScanHighestNumber(dir.path()), 42);
    }

    void DateTime()
    {
        QTemporaryDir dir;
        const QDateTime fixed(QDate(2026, 3, 4), QTime(5, 6, 7, 89));
        const TClock clock = [&] {
            return fixed;
        };
        for (int append : {2, 0, 7, -1}) {
            QCOMPARE(NewFilename(dir.path(), NamingModeFromSetting(append), "jpg", clock),
                     dir.path() + "/V-20260304-050607089.jpg");
        }
        const QDateTime evening(QDate(2026, 12, 31), QTime(23, 59, 59, 999));
        QCOMPARE(NameOnly(NewFilename(dir.path(), TNamingMode::DateTime, "webp",
                                      [&] { return evening; })),
                 QStringLiteral("V-20261231-235959999.webp"));
    }

    void DateTimeNeverReplacesAFile()
    {
        QTemporaryDir dir;
        const QDateTime fixed(QDate(2026, 3, 4), QTime(5, 6, 7, 89));
        const TClock clock = [&] {
            return fixed;
        };
        Touch(dir.path(), {"V-20260304-050607089.png", "V-20260304-050607090.png"});
        QCOMPARE(NameOnly(NewFilename(dir.path(), TNamingMode::DateTime, "png", clock)),
                 QStringLiteral("V-20260304-050607091.png"));

        // A long run of taken milliseconds, crossing into the next second,
        // must still end on a free name rather than give up on a taken one.
        QStringList taken;
        for (int ms = 0; ms < 1500; ++ms)
            taken << fixed.addMSecs(ms).toString("'V-'yyyyMMdd-HHmmsszzz'.jpg'");
        Touch(dir.path(), taken);
        const QString free = NewFilename(dir.path(), TNamingMode::DateTime, "jpg", clock);
        QCOMPARE(NameOnly(free), fixed.addMSecs(1500).toString("'V-'yyyyMMdd-HHmmsszzz'.jpg'"));
        QVERIFY(!QFileInfo::exists(free));
    }

    void MissingFolder()
    {
        QTemporaryDir dir;
        const QString missing = dir.path() + "/not/there";
        QCOMPARE(NewFilename(missing, TNamingMode::Sequential1, "png"), missing + "/V-001.png");
        QVERIFY(!QFileInfo::exists(missing));
    }

    void Joining()
    {
        QCOMPARE(JoinPath("", "V-001.png"), QStringLiteral("V-001.png"));
        QCOMPARE(JoinPath("/a/", "V-001.png"), QStringLiteral("/a/V-001.png"));
        QCOMPARE(JoinPath("/a", "V-001.png"), QStringLiteral("/a/V-001.png"));
        const QString bad = QStringLiteral("/a") + QChar(0) + QStringLiteral("b");
        QVERIFY_THROWS_EXCEPTION(EInvalidPath, JoinPath(bad, "x"));
        try {
            NewFilename(bad, TNamingMode::Sequential2, "png");
            QFAIL("no exception");
        } catch (const EInvalidPath& e) {
            QCOMPARE(QString(e.what()), QStringLiteral("Invalid characters in path"));
        }
    }
};

VORANTU_TEST_MAIN(TTestFileName)
#include "tst_FileName.moc"
