#pragma once

#include <QDialog>

class QGroupBox;
class QPushButton;
class QSpinBox;

// The size-preset dialog of the region window: the current interior size and
// three user presets, each a width and a height field (64 ... 9999) with an
// apply button. The main window makes it once at start and keeps it hidden;
// the region window shows it from its menu, reads its fields and writes the
// current size into it. The dialog stays open after applying.
// User-interface thread only.
class TFrmSize : public QDialog
{
    Q_OBJECT
public:
    static constexpr int MinimumSize = 64;
    static constexpr int MaximumSize = 9999;

    explicit TFrmSize(QWidget* parent = nullptr);

    // A field's value: its text as a number clamped to 64 ... 9999, 64 when
    // the text is not a number.
    static int FieldValue(const QSpinBox* field);
    // Writes `value` clamped to 64 ... 9999.
    static void SetFieldValue(QSpinBox* field, int value);

    // Preset `sizeNo` (1 ... 3) as its fields read now.
    int PresetWidth(int sizeNo) const;
    int PresetHeight(int sizeNo) const;
    void SetCurrentSize(int width, int height);
    int CurrentWidth() const { return FieldValue(EditWidth); }
    int CurrentHeight() const { return FieldValue(EditHeight); }

    // Stores the six preset fields ("width_1" ... "height_3").
    void SavePresets();

    QSpinBox* EditWidth;
    QSpinBox* EditHeight;
    QSpinBox* EditWidth_1;
    QSpinBox* EditHeight_1;
    QSpinBox* EditWidth_2;
    QSpinBox* EditHeight_2;
    QSpinBox* EditWidth_3;
    QSpinBox* EditHeight_3;

signals:
    // An apply button: the region window's interior becomes width x height;
    // `sizeNo` 1 ... 3 also renames that preset's menu item, 0 does not.
    void Apply(int width, int height, int sizeNo);

private:
    QGroupBox* AddGroup(const char* name, const QString& caption, const QPoint& at,
                        QSpinBox*& width, QSpinBox*& height, int sizeNo);
    void ApplyClick(int sizeNo);
};
