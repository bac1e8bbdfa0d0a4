#pragma once

#include <QPainter>
#include <QStringList>
#include <QWidget>

// A window showing the given lines in large, plain letters at (300, 200), for
// text recognition to read through a capture.
class TTextWindow : public QWidget
{
public:
    explicit TTextWindow(QStringList lines, QSize size = QSize(420, 260)) : FLines(std::move(lines))
    {
        // No title bar: its caption and buttons would be read as text too.
        setWindowFlag(Qt::FramelessWindowHint);
        setWindowTitle(QStringLiteral("ocr target"));
        setGeometry(QRect(QPoint(300, 200), size));
    }

protected:
    void paintEvent(QPaintEvent*) override
    {
        QPainter painter(this);
        painter.fillRect(rect(), Qt::white);
        QFont font(QStringLiteral("DejaVu Sans"));
        font.setPixelSize(40);
        painter.setFont(font);
        painter.setPen(Qt::black);
        for (int i = 0; i < FLines.size(); ++i)
            painter.drawText(40, 80 + i * 80, FLines[i]);
    }

private:
    QStringList FLines;
};
