#include "Desktop.h"
#include "TestEnvironment.h"
#include "output/Floating.h"
#include "output/Save.h"
#include "platform/NativeWindow.h"
#include "platform/Platform.h"
#include "platform/ScreenScale.h"

#include <QAction>
#include <QDialogButtonBox>
#include <QFileDialog>
#include <QLineEdit>
#include <QMenu>
#include <QMessageBox>
#include <QPointer>
#include <QProcess>
#include <QPushButton>
#include <QScreen>
#include <QTemporaryDir>
#include <QTimer>
#include <functional>

using namespace TestDesktop;

namespace {

QImage Picture(const QSize& size)
{
    QImage image(size, QImage::Format_RGB32);
    for (int y = 0; y < size.height(); ++y)
        for (int x = 0; x < size.width(); ++x)
            image.setPixel(x, y, qRgb((x * 5 + y) & 0xFF, (y * 11) & 0xFF, (x ^ y) & 0xFF));
    return image;
}

class TOwner : public TFloatOwner
{
public:
    QString Folder;
    QString Jpeg = QStringLiteral("90");
    QString WebP = QStringLiteral("90");
    QString SavePath() const override { return Folder; }
    QString JpegQualityText() const override { return Jpeg; }
    QString WebPQualityText() const override { return WebP; }
};

// Plays the user's part in the next modal window of type T that shows.
template <typename T> void WhenShown(std::function<void(T*)> action)
{
    auto* timer = new QTimer;
    QObject::connect(timer, &QTimer::timeout, [timer, action] {
        for (QWidget* widget : QApplication::topLevelWidgets()) {
            auto* window = qobject_cast<T*>(widget);
            if (window && window->isVisible()) {
                timer->deleteLater();
                timer->stop();
                action(window);
                return;
            }
        }
    });
    timer->start(30);
}

// Types `fileName` into the dialog's name field, as a user does (selectFile
// leaves the field alone while it has the focus).
void TypeFileName(QFileDialog* dialog, const QString& fileName)
{
    auto* edit = dialog->findChild<QLineEdit*>(QStringLiteral("fileNameEdit"));
    QVERIFY(edit);
    edit->setText(fileName);
}

// The first quantisation value of a JPEG's luminance table identifies the quality.
int JpegFirstQuant(const QByteArray& bytes)
{
    const qsizetype dqt = bytes.indexOf("\xFF\xDB");
    return dqt < 0 ? -1 : quint8(bytes[dqt + 5]);
}

QByteArray Read(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

} // namespace

Q_DECLARE_METATYPE(QPointer<TFrmFloating>)

class TTestFloating : public QObject
{
    Q_OBJECT
private:
    TOwner FOwner;
    QTemporaryDir FFolder;
    TPlatform FPlatform;

    // What the desktop shows at `rect`, in physical pixels.
    QImage OnScreen(const QRect& rect)
    {
        QImage image(rect.size(), QImage::Format_RGB32);
        if (!FPlatform.Screen->Grab(rect, image))
            image = QImage();
        return image;
    }

    // Saves `form` through its menu and dialog as `fileName` with file type `filter`.
    void SaveThroughTheDialog(TFrmFloating& form, const QString& fileName, const QString& filter)
    {
        WhenShown<QFileDialog>([fileName, filter](QFileDialog* dialog) {
            dialog->selectNameFilter(filter);
            TypeFileName(dialog, fileName);
            static_cast<QDialog*>(dialog)->accept(); // as the Save button does
        });
        form.BtnSave->trigger();
    }

private slots:
    void initTestCase()
    {
        FOwner.Folder = FFolder.path();
        FPlatform = LoadPlatform();
        MovePointer({3100, 1000});
    }

    void cleanupTestCase() { FPlatform = TPlatform(); }

    void SitsAtTheCaptureRectangle_data()
    {
        QTest::addColumn<QRect>("rect");
        QTest::newRow("primary monitor") << QRect(100, 200, 300, 150);
        QTest::newRow("second monitor") << QRect(2300, 400, 250, 180);
    }
    void SitsAtTheCaptureRectangle()
    {
        QFETCH(QRect, rect);
        TFloatList list(FOwner);
        const QImage picture = Picture(rect.size());
        TFrmFloating* form = list.FloatCreate(picture, rect);
        QVERIFY(QTest::qWaitForWindowExposed(form));
        // The rectangle is physical pixels, whatever scale Qt applies.
        QTRY_COMPARE(WindowOriginOnScreen(form), std::optional<QPoint>(rect.topLeft()));
        QTRY_COMPARE(FPlatform.Windows->VisibleFrame(form->winId()), std::optional<QRect>(rect));
        QTRY_COMPARE(form->frameGeometry(), form->geometry());
        QCOMPARE(form->Picture(), picture);
        // 1:1; without a compositor the outermost pixels carry the frame
        // that stands in for a shadow, as wide as one pixel at 96 DPI; with
        // one the compositor's shadow lies outside and the picture reaches
        // the edges.
        const int frame = CompositorRunning() ? 0 : PhysicalLength(form, 1);
        const QRect inner = rect.adjusted(frame, frame, -frame, -frame);
        QTRY_COMPARE(OnScreen(inner), picture.copy(inner.translated(-rect.topLeft())));
        if (frame > 0) {
            for (const QPoint& edge :
                 {QPoint(frame - 1, frame - 1), QPoint(rect.width() - frame, 10),
                  QPoint(10, rect.height() - 1)})
                QCOMPARE(OnScreen(QRect(rect.topLeft() + edge, QSize(1, 1))).pixel(0, 0),
                         form->palette().color(QPalette::Shadow).rgb());
        }
        QVERIFY(form->windowFlags() & Qt::WindowStaysOnTopHint);
        QVERIFY(form->windowFlags() & Qt::Tool);
        QCOMPARE(form->parentWidget(), nullptr);

        // Another program's window coming to the front stays below it.
        TForeignWindow other(rect.topLeft() - QPoint(20, 20), QSize(400, 300));
        QVERIFY(!other.Id.isEmpty());
        QVERIFY(WindowManagerRoundTrip());
        QCOMPARE(OnScreen(inner), picture.copy(inner.translated(-rect.topLeft())));
        if (const QString shots = qEnvironmentVariable("VORANTU_TEST_SHOTS"); !shots.isEmpty())
            OnScreen(rect.adjusted(-40, -40, 140, 200))
                .save(QStringLiteral("%1/floating %2 at %3.png")
                          .arg(shots, QTest::currentDataTag())
                          .arg(form->devicePixelRatioF()));
    }

    void MovesWithADrag()
    {
        TFloatList list(FOwner);
        TFrmFloating* form = list.FloatCreate(Picture({300, 150}), QRect(100, 200, 300, 150));
        QVERIFY(QTest::qWaitForWindowExposed(form));
        QVERIFY(WindowManagerRoundTrip());
        Drag({150, 250}, {350, 400});
        QTRY_COMPARE(WindowOriginOnScreen(form), std::optional<QPoint>(QPoint(300, 350)));
    }

    void SavesInTheChosenType_data()
    {
        QTest::addColumn<QString>("filter");
        QTest::addColumn<QString>("name");
        QTest::addColumn<QByteArray>("magic");
        QTest::addColumn<QString>("jpegText");
        QTest::addColumn<int>("quant");
        QTest::newRow("PNG named .jpg") << "PNG (*.png)"
                                        << "a.jpg" << QByteArray("\x89PNG") << "" << -1;
        QTest::newRow("JPG named .png, quality 70")
            << "JPG (*.jpg *.jpeg)"
            << "b.png" << QByteArray("\xFF\xD8\xFF") << "70" << 10;
        QTest::newRow("JPG, no quality chosen") << "JPG (*.jpg *.jpeg)"
                                                << "c.jpg" << QByteArray("\xFF\xD8\xFF") << "" << 3;
        QTest::newRow("GIF named .bmp") << "GIF (*.gif)"
                                        << "d.bmp" << QByteArray("GIF8") << "" << -1;
        QTest::newRow("BMP without extension") << "BMP (*.bmp)"
                                               << "e" << QByteArray("BM") << "" << -1;
    }
    void SavesInTheChosenType()
    {
        QFETCH(QString, filter);
        QFETCH(QString, name);
        QFETCH(QByteArray, magic);
        QFETCH(QString, jpegText);
        QFETCH(int, quant);
        FOwner.Jpeg = jpegText;
        TFloatList list(FOwner);
        TFrmFloating* form = list.FloatCreate(Picture({64, 48}), QRect(500, 500, 64, 48));
        const QString path = FFolder.filePath(name);
        SaveThroughTheDialog(*form, path, filter);
        // A name without an extension gets the default one.
        const QString written = QFileInfo(path).suffix().isEmpty() ? path + ".png" : path;
        const QByteArray bytes = Read(written);
        QVERIFY2(bytes.startsWith(magic), qPrintable(written));
        if (quant >= 0)
            QCOMPARE(JpegFirstQuant(bytes), quant);
        QCOMPARE(list.Items().size(), 1);
    }

    void SavesWebPWhenTheLibraryIsThere()
    {
        if (!WebPLibraryAvailable())
            QSKIP("no WebP library on this machine");
        FOwner.WebP = QStringLiteral("80");
        TFloatList list(FOwner);
        TFrmFloating* form = list.FloatCreate(Picture({64, 48}), QRect(500, 500, 64, 48));
        SaveThroughTheDialog(*form, FFolder.filePath("f.png"), "WebP (*.webp)");
        const QByteArray bytes = Read(FFolder.filePath("f.png"));
        QVERIFY(bytes.startsWith("RIFF"));
        QCOMPARE(bytes.mid(8, 4), QByteArray("WEBP"));
    }

    void TheDialogAsksBeforeOverwritingAndRefusesAMissingFolder()
    {
        TFloatList list(FOwner);
        TFrmFloating* form = list.FloatCreate(Picture({64, 48}), QRect(500, 500, 64, 48));

        // A folder that does not exist: the dialog says so and stays open.
        const QString missing = FFolder.filePath("no-such-folder/x.png");
        QString refusal;
        WhenShown<QFileDialog>([&](QFileDialog* dialog) {
            WhenShown<QMessageBox>([&](QMessageBox* box) {
                refusal = box->text();
                box->accept();
                QTimer::singleShot(100, dialog, [dialog] {
                    if (dialog->isVisible())
                        dialog->reject();
                });
            });
            TypeFileName(dialog, missing);
            static_cast<QDialog*>(dialog)->accept(); // as the Save button does
        });
        form->BtnSave->trigger();
        QVERIFY2(refusal.contains(QStringLiteral("no-such-folder")), qPrintable(refusal));
        QVERIFY(!QFile::exists(missing));

        // An existing file: asked, and kept when the answer is no.
        const QString existing = FFolder.filePath("kept.png");
        QFile file(existing);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write("old");
        file.close();
        bool asked = false;
        WhenShown<QFileDialog>([&](QFileDialog* dialog) {
            WhenShown<QMessageBox>([&](QMessageBox* box) {
                asked = true;
                box->button(QMessageBox::No)->click();
                QTimer::singleShot(100, dialog, [dialog] {
                    if (dialog->isVisible())
                        dialog->reject();
                });
            });
            TypeFileName(dialog, existing);
            static_cast<QDialog*>(dialog)->accept(); // as the Save button does
        });
        form->BtnSave->trigger();
        QVERIFY(asked);
        QCOMPARE(Read(existing), QByteArray("old"));
    }

    void AFailedSaveIsShownAndTheWindowStays()
    {
        TFloatList list(FOwner);
        TFrmFloating* form = list.FloatCreate(Picture({64, 48}), QRect(500, 500, 64, 48));
        // A name with an extension, so the dialog adds none, for a disk that is always full.
        const QString full = FFolder.filePath("full.png");
        QVERIFY(QFile::link(QStringLiteral("/dev/full"), full));
        QString failure;
        QMessageBox::Icon icon = QMessageBox::NoIcon;
        WhenShown<QFileDialog>([&](QFileDialog* dialog) {
            // The device exists, so the dialog asks first; then the disk is full.
            WhenShown<QMessageBox>([&](QMessageBox* question) {
                question->button(QMessageBox::Yes)->click();
                WhenShown<QMessageBox>([&](QMessageBox* box) {
                    failure = box->text();
                    icon = box->icon();
                    box->accept();
                });
            });
            TypeFileName(dialog, full);
            static_cast<QDialog*>(dialog)->accept(); // as the Save button does
        });
        form->BtnSave->trigger();
        QVERIFY2(failure.contains(full), qPrintable(failure));
        QCOMPARE(icon, QMessageBox::Critical);
        QCOMPARE(list.Items(), (QList<TFrmFloating*>{form}));
        QVERIFY(form->isVisible());
    }

    void DeleteRemovesOneAndDeleteAllRemovesEvery()
    {
        TFloatList list(FOwner);
        QList<QPointer<TFrmFloating>> forms;
        for (int i = 0; i < 3; ++i)
            forms.append(list.FloatCreate(Picture({80, 60}), QRect(200 + 100 * i, 300, 80, 60)));
        QVERIFY(QTest::qWaitForWindowExposed(forms[2]));

        forms[1]->BtnDelete->trigger();
        QCOMPARE(list.Items(), (QList<TFrmFloating*>{forms[0], forms[2]}));
        QTRY_VERIFY(forms[1].isNull());
        QVERIFY(forms[0]->isVisible() && forms[2]->isVisible());

        // Deleting a window that is not in the list does nothing.
        TFloatList other(FOwner);
        list.FloatDelete(other.FloatCreate(Picture({80, 60}), QRect(200, 500, 80, 60)));
        QCOMPARE(list.Items().size(), 2);
        QCOMPARE(other.Items().size(), 1);

        forms[2]->BtnDeleteAll->trigger();
        QVERIFY(list.Items().isEmpty());
        QTRY_VERIFY(forms[0].isNull() && forms[2].isNull());
    }

    void TheListEndsItsWindows()
    {
        QPointer<TFrmFloating> form;
        {
            TFloatList list(FOwner);
            form = list.FloatCreate(Picture({80, 60}), QRect(200, 300, 80, 60));
            QCOMPARE(form->Popup->actions().size(), 4);
            QCOMPARE(form->BtnSave->text(), QStringLiteral("이미지 저장"));
            QCOMPARE(form->BtnDelete->text(), QStringLiteral("플로팅 삭제"));
            QCOMPARE(form->BtnDeleteAll->text(), QStringLiteral("모든 플로팅 삭제"));
        }
        QVERIFY(form.isNull());
    }
};

VORANTU_TEST_MAIN(TTestFloating)
#include "tst_Floating.moc"
