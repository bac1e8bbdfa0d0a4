// A full-screen window of dense text, so capture timings see a realistic,
// hard-to-compress screen rather than a flat colour.
#include <QApplication>
#include <QPainter>
#include <QScreen>
#include <QTimer>
#include <QWidget>

class TTextScreen : public QWidget
{
public:
    // Scrolls the text by a line every frame, for recordings of moving content.
    void Animate()
    {
        auto* timer = new QTimer(this);
        connect(timer, &QTimer::timeout, this, [this] {
            FOffset = (FOffset + 1) % 64;
            update();
        });
        timer->start(33);
    }

protected:
    void paintEvent(QPaintEvent*) override
    {
        QPainter painter(this);
        painter.fillRect(rect(), QColor(250, 250, 246));
        QFont font(QStringLiteral("DejaVu Sans Mono"));
        font.setPixelSize(13);
        painter.setFont(font);
        const int lineHeight = 16;
        quint32 seed = 12345 + quint32(FOffset);
        for (int y = lineHeight, line = 0; y < height(); y += lineHeight, ++line) {
            QString text;
            for (int i = 0; i < 260; ++i) {
                seed = seed * 1103515245u + 12345u;
                const int r = int((seed >> 16) % 40);
                text += r < 6 ? QLatin1Char(' ') : QChar(u'a' + r % 26);
            }
            painter.setPen(line % 7 == 0 ? QColor(30, 80, 160) : QColor(20, 20, 20));
            painter.drawText(4, y, text);
        }
    }

private:
    int FOffset = 0;
};

int main(int argc, char* argv[])
{
    QApplication app(argc, argv);
    TTextScreen window;
    window.setWindowFlag(Qt::FramelessWindowHint);
    window.setGeometry(QGuiApplication::primaryScreen()->geometry());
    window.show();
    if (app.arguments().contains(QStringLiteral("--animate")))
        window.Animate();
    return app.exec();
}
