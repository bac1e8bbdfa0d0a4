#include "Multipart.h"
#include "TestEnvironment.h"

class TTestMultipart : public QObject
{
    Q_OBJECT
private slots:
    void FormBoundary_data()
    {
        QTest::addColumn<QByteArray>("contentType");
        QTest::addColumn<QByteArray>("boundary"); // empty: refused

        QTest::newRow("plain") << QByteArray("multipart/form-data; boundary=abc")
                               << QByteArray("abc");
        QTest::newRow("quoted with semicolon")
            << QByteArray("multipart/form-data; boundary=\"a;b c\"; charset=x")
            << QByteArray("a;b c");
        QTest::newRow("letters in any case")
            << QByteArray("Multipart/Form-Data;BOUNDARY=xyz") << QByteArray("xyz");
        QTest::newRow("other type") << QByteArray("multipart/mixed; boundary=abc") << QByteArray();
        QTest::newRow("no boundary")
            << QByteArray("multipart/form-data; charset=utf-8") << QByteArray();
        QTest::newRow("empty boundary")
            << QByteArray("multipart/form-data; boundary=\"\"") << QByteArray();
        QTest::newRow("unterminated quote")
            << QByteArray("multipart/form-data; boundary=\"abc") << QByteArray();
        QTest::newRow("control character")
            << QByteArray("multipart/form-data; boundary=a\x01z") << QByteArray();
        QTest::newRow("overlong") << "multipart/form-data; boundary=" + QByteArray(201, 'b')
                                  << QByteArray();
    }

    void FormBoundary()
    {
        QFETCH(QByteArray, contentType);
        QFETCH(QByteArray, boundary);
        if (boundary.isEmpty())
            QVERIFY_THROWS_EXCEPTION(EMultipartError, ::FormBoundary(contentType));
        else
            QCOMPARE(::FormBoundary(contentType), boundary);
    }

    void ReadFormFile_data()
    {
        QTest::addColumn<QByteArray>("body");
        QTest::addColumn<QByteArray>("data"); // "!" + reason fragment: refused

        const QByteArray part =
            "Content-Disposition: form-data; name=\"file\"; filename=\"v.png\"\r\n"
            "Content-Type: image/png\r\n\r\n";
        QTest::newRow("one part") << "--B\r\n" + part + "DATA\r\n--B--\r\n" << QByteArray("DATA");
        QTest::newRow("no CR LF after the closing line")
            << "--B\r\n" + part + "DATA\r\n--B--" << QByteArray("DATA");
        QTest::newRow("preamble and epilogue")
            << "ignored\r\n--B\r\n" + part + "DATA\r\n--B--\r\ntrailing words"
            << QByteArray("DATA");
        QTest::newRow("padding after the boundary") << "--B  \t\r\n" + part + "DATA\r\n--B--\r\n"
                                                    << QByteArray("DATA");
        QTest::newRow("boundary-like bytes inside the data")
            << "--B\r\n" + part + "x--B\r\n--Bx\r\n-\r\n--BB\r\n--B--\r\n"
            << QByteArray("x--B\r\n--Bx\r\n-\r\n--BB");
        QTest::newRow("empty data") << "--B\r\n" + part + "\r\n--B--\r\n" << QByteArray("");
        QTest::newRow("other fields around the file")
            << "--B\r\nContent-Disposition: form-data; name=\"a\"\r\n\r\n1\r\n--B\r\n" + part +
                   "DATA\r\n--B\r\nContent-Disposition: form-data; name=\"files\"\r\n\r\n2\r\n--B--"
            << QByteArray("DATA");
        QTest::newRow("name in single token and odd spacing")
            << QByteArray("--B\r\ncontent-disposition:form-data ;name=file\r\n\r\nDATA\r\n--B--")
            << QByteArray("DATA");
        QTest::newRow("part without headers")
            << QByteArray("--B\r\n\r\nDATA\r\n--B--") << QByteArray("!no \"file\"");
        QTest::newRow("not form-data")
            << QByteArray("--B\r\nContent-Disposition: attachment; name=\"file\"\r\n\r\nD\r\n--B--")
            << QByteArray("!no \"file\"");
        QTest::newRow("cut inside the data") << "--B\r\n" + part + "DAT" << QByteArray("!cut off");
        QTest::newRow("cut inside the headers")
            << QByteArray("--B\r\nContent-Disposition: form-da") << QByteArray("!cut off");
        QTest::newRow("cut after a boundary")
            << "--B\r\n" + part + "DATA\r\n--B" << QByteArray("!cut off");
        QTest::newRow("garbage after a boundary") << "--B\r\n" + part + "DATA\r\n--Bxyz\r\n"
                                                  << QByteArray("!cut off");
        QTest::newRow("header without colon")
            << QByteArray("--B\r\nnonsense\r\n\r\nDATA\r\n--B--") << QByteArray("!malformed");
        QTest::newRow("overlong part headers")
            << "--B\r\n" + QByteArray("X-A: b\r\n").repeated(3000) + "\r\nD\r\n--B--"
            << QByteArray("!too long");
        QTest::newRow("no boundary at all") << QByteArray("DATA") << QByteArray("!no boundary");
    }

    void ReadFormFile()
    {
        QFETCH(QByteArray, body);
        QFETCH(QByteArray, data);
        if (data.startsWith('!')) {
            try {
                ::ReadFormFile(body, "B", "file");
                QFAIL("accepted");
            } catch (const EMultipartError& error) {
                QVERIFY2(QByteArray(error.what()).contains(data.mid(1)), error.what());
            }
            return;
        }
        const TFormFile file = ::ReadFormFile(body, "B", "file");
        QCOMPARE(file.Data.toByteArray(), data);
    }
};

VORANTU_TEST_MAIN(TTestMultipart)
#include "tst_Multipart.moc"
