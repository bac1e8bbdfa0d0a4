#include "TestEnvironment.h"
#include "services/Text.h"

#include <QDesktopServices>
#include <QUrl>

class TUrlCatcher : public QObject
{
    Q_OBJECT
public:
    QList<QUrl> Opened;
public slots:
    void Open(const QUrl& url) { Opened << url; }
};

class TTestText : public QObject
{
    Q_OBJECT
private slots:
    void TextBetween_data()
    {
        QTest::addColumn<QString>("source");
        QTest::addColumn<QString>("startTag");
        QTest::addColumn<QString>("endTag");
        QTest::addColumn<QString>("expected");

        QTest::newRow("escaped slashes stay escaped")
            << "{\"status\":\"success\",\"url\":\"http:\\/\\/h\\/i\\/a.png\"}"
            << "\"url\":\""
            << "\""
            << "http:\\/\\/h\\/i\\/a.png";
        QTest::newRow("start tag case ignored, source letters kept") << "STATUS=Done;"
                                                                     << "status="
                                                                     << ";"
                                                                     << "Done";
        QTest::newRow("encoder time")
            << "frame=  10 fps=0.0 q=-1.0 size=0kB time=00:00:01.23 bitrate=N/A"
            << "time="
            << " "
            << "00:00:01.23";
        QTest::newRow("escaped quotation mark inside the value")
            << "{\"a\":\"say \\\"hi\\\"\",\"b\":1}"
            << "\"a\":\""
            << "\""
            << "say \\\"hi\\\"";
        QTest::newRow("escaped apostrophe") << "a='it\\'s' b"
                                            << "a='"
                                            << "'"
                                            << "it\\'s";
        QTest::newRow("backslash and quotation mark before the end") << "{\"p\":\"x\\\\\"}"
                                                                     << "\"p\":\""
                                                                     << "\""
                                                                     << "";
        QTest::newRow("missing start tag") << "abc"
                                           << "x"
                                           << "c"
                                           << "";
        QTest::newRow("missing end tag after start") << "c abc"
                                                     << "a"
                                                     << "x"
                                                     << "";
        QTest::newRow("end tag only before start") << "]x[a"
                                                   << "["
                                                   << "]"
                                                   << "";
        QTest::newRow("empty start tag") << "value;rest"
                                         << ""
                                         << ";"
                                         << "value";
        QTest::newRow("empty end tag") << "key=value"
                                       << "="
                                       << ""
                                       << "value";
        QTest::newRow("two-character end tag keeps positions") << "k=a\\\"'b\"'tail"
                                                               << "k="
                                                               << "\"'"
                                                               << "a\\\"'b";
        QTest::newRow("non-ASCII letters compare exactly") << "Äx=1;äx=2;"
                                                           << "äx="
                                                           << ";"
                                                           << "2";
    }

    void TextBetween()
    {
        QFETCH(QString, source);
        QFETCH(QString, startTag);
        QFETCH(QString, endTag);
        QFETCH(QString, expected);
        QCOMPARE(::TextBetween(source, startTag, endTag), expected);
    }

    void TextBetweenKeepTags()
    {
        QCOMPARE(::TextBetween("<b>x</b>", "<B>", "</B>", true), QString("<B>x</B>"));
        QCOMPARE(::TextBetween("<b> \t</b>", "<b>", "</b>", true), QString(" \t"));
    }

    void JsonUnescape_data()
    {
        QTest::addColumn<QString>("value");
        QTest::addColumn<QString>("expected");
        QTest::newRow("empty") << ""
                               << "";
        QTest::newRow("escaped slashes") << "http:\\/\\/h\\/i\\/a.png"
                                         << "http://h/i/a.png";
        QTest::newRow("quote apostrophe backslash") << "\\\"\\'\\\\" << QStringLiteral("\"'\\");
        QTest::newRow("control escapes") << "\\b\\f\\n\\r\\t" << QString("\b\f\n\r\t");
        QTest::newRow("unicode escape") << "caf\\u00e9" << QStringLiteral("caf\u00e9");
        QTest::newRow("upper-case hex") << "\\u00C9" << QStringLiteral("\u00c9");
        QTest::newRow("unknown escape dropped") << "a\\qb"
                                                << "ab";
        QTest::newRow("final backslash dropped") << "ab\\"
                                                 << "ab";
        QTest::newRow("escaped quotation mark left alone") << "x\\\"y"
                                                           << "x\"y";
    }

    void JsonUnescape()
    {
        QFETCH(QString, value);
        QFETCH(QString, expected);
        QCOMPARE(::JsonUnescape(value), expected);
    }

    void JsonUnescapeBadUnicode_data()
    {
        QTest::addColumn<QString>("value");
        QTest::newRow("not hex") << "\\u00zz";
        QTest::newRow("too short") << "ab\\u12";
        QTest::newRow("nothing after u") << "\\u";
    }

    void JsonUnescapeBadUnicode()
    {
        QFETCH(QString, value);
        QVERIFY_THROWS_EXCEPTION(EConvertError, ::JsonUnescape(value));
    }

    void ServerAddressesOpenOnlyOnTheWeb_data()
    {
        QTest::addColumn<QString>("address");
        QTest::addColumn<bool>("opened");
        QTest::newRow("http") << "http://example.com/notice" << true;
        QTest::newRow("https") << "https://example.com/a?b=1" << true;
        QTest::newRow("upper-case scheme") << "HTTPS://example.com/" << true;
        QTest::newRow("file") << "file:///etc/passwd" << false;
        QTest::newRow("local path") << "/usr/bin/xterm" << false;
        QTest::newRow("javascript") << "javascript:alert(1)" << false;
        QTest::newRow("custom scheme") << "vnd.evil://run" << false;
        QTest::newRow("no host") << "http:///path" << false;
        QTest::newRow("empty") << "" << false;
    }

    void ServerAddressesOpenOnlyOnTheWeb()
    {
        QFETCH(QString, address);
        QFETCH(bool, opened);
        TUrlCatcher catcher;
        for (const char* scheme : {"http", "https", "file", "javascript", "vnd.evil"})
            QDesktopServices::setUrlHandler(scheme, &catcher, "Open");
        QCOMPARE(ShellOpenServerAddress(address), opened);
        QCOMPARE(catcher.Opened.size(), opened ? 1 : 0);
        for (const char* scheme : {"http", "https", "file", "javascript", "vnd.evil"})
            QDesktopServices::unsetUrlHandler(scheme);
    }

    void ShellOpenTakesPathsAsFiles()
    {
        TUrlCatcher catcher;
        QDesktopServices::setUrlHandler("file", &catcher, "Open");
        ShellOpen(QDir::homePath());
        QDesktopServices::unsetUrlHandler("file");
        QCOMPARE(catcher.Opened.size(), 1);
        QCOMPARE(catcher.Opened.first(), QUrl::fromLocalFile(QDir::homePath()));
    }
};

VORANTU_TEST_MAIN(TTestText)
#include "tst_Text.moc"
