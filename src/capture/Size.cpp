#include "capture/Size.h"

#include "services/Config.h"
#include "services/Translate.h"

#include <QGroupBox>
#include <QLabel>
#include <QPushButton>
#include <QSpinBox>

namespace {

QSpinBox* NewField(QWidget* parent, const QString& name, const QRect& geometry)
{
    auto* field = new QSpinBox(parent);
    field->setObjectName(name);
    field->setRange(TFrmSize::MinimumSize, TFrmSize::MaximumSize);
    field->setValue(TFrmSize::MinimumSize);
    field->setGeometry(geometry);
    return field;
}

} // namespace

TFrmSize::TFrmSize(QWidget* parent)
    : QDialog(parent, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                          Qt::WindowCloseButtonHint | Qt::WindowStaysOnTopHint)
{
    setObjectName(QStringLiteral("TFrmSize"));
    setWindowTitle(QStringLiteral("영역크기 설정"));
    setFixedSize(386, 330);

    AddGroup("GrpArea", QStringLiteral("현재크기"), QPoint(8, 8), EditWidth, EditHeight, 0);
    AddGroup("GrpConfig_1", QStringLiteral("사용자 정의 #1"), QPoint(197, 8), EditWidth_1,
             EditHeight_1, 1);
    AddGroup("GrpConfig_2", QStringLiteral("사용자 정의 #2"), QPoint(8, 169), EditWidth_2,
             EditHeight_2, 2);
    AddGroup("GrpConfig_3", QStringLiteral("사용자 정의 #3"), QPoint(197, 169), EditWidth_3,
             EditHeight_3, 3);

    TranslateComponent(this);

    const TConfig config(ProgramConfigPath);
    SetFieldValue(EditWidth_1, ReadSetting(config, Setting::Width1));
    SetFieldValue(EditWidth_2, ReadSetting(config, Setting::Width2));
    SetFieldValue(EditWidth_3, ReadSetting(config, Setting::Width3));
    SetFieldValue(EditHeight_1, ReadSetting(config, Setting::Height1));
    SetFieldValue(EditHeight_2, ReadSetting(config, Setting::Height2));
    SetFieldValue(EditHeight_3, ReadSetting(config, Setting::Height3));
}

QGroupBox* TFrmSize::AddGroup(const char* name, const QString& caption, const QPoint& at,
                              QSpinBox*& width, QSpinBox*& height, int sizeNo)
{
    const QString suffix = sizeNo == 0 ? QString() : QStringLiteral("_%1").arg(sizeNo);
    auto* group = new QGroupBox(caption, this);
    group->setObjectName(QLatin1String(name));
    group->setGeometry(QRect(at, QSize(181, 153)));

    auto* widthLabel = new QLabel(QStringLiteral("넓이 :"), group);
    widthLabel->setGeometry(14, 34, 60, 24);
    width = NewField(group, QStringLiteral("EditWidth") + suffix, QRect(78, 32, 88, 26));

    auto* heightLabel = new QLabel(QStringLiteral("높이 :"), group);
    heightLabel->setGeometry(14, 70, 60, 24);
    height = NewField(group, QStringLiteral("EditHeight") + suffix, QRect(78, 68, 88, 26));

    auto* apply = new QPushButton(QStringLiteral("적용"), group);
    apply->setObjectName(QStringLiteral("BtnApply") + suffix);
    apply->setGeometry(78, 108, 88, 30);
    connect(apply, &QPushButton::clicked, this, [this, sizeNo] { ApplyClick(sizeNo); });
    return group;
}

int TFrmSize::FieldValue(const QSpinBox* field)
{
    bool number = false;
    const int value = field->cleanText().trimmed().toInt(&number);
    return number ? qBound(MinimumSize, value, MaximumSize) : MinimumSize;
}

void TFrmSize::SetFieldValue(QSpinBox* field, int value)
{
    field->setValue(qBound(MinimumSize, value, MaximumSize));
}

int TFrmSize::PresetWidth(int sizeNo) const
{
    switch (sizeNo) {
    case 1:
        return FieldValue(EditWidth_1);
    case 2:
        return FieldValue(EditWidth_2);
    case 3:
        return FieldValue(EditWidth_3);
    default:
        return FieldValue(EditWidth);
    }
}

int TFrmSize::PresetHeight(int sizeNo) const
{
    switch (sizeNo) {
    case 1:
        return FieldValue(EditHeight_1);
    case 2:
        return FieldValue(EditHeight_2);
    case 3:
        return FieldValue(EditHeight_3);
    default:
        return FieldValue(EditHeight);
    }
}

void TFrmSize::SetCurrentSize(int width, int height)
{
    SetFieldValue(EditWidth, width);
    SetFieldValue(EditHeight, height);
}

void TFrmSize::SavePresets()
{
    TConfig config(ProgramConfigPath);
    WriteSetting(config, Setting::Width1, FieldValue(EditWidth_1));
    WriteSetting(config, Setting::Width2, FieldValue(EditWidth_2));
    WriteSetting(config, Setting::Width3, FieldValue(EditWidth_3));
    WriteSetting(config, Setting::Height1, FieldValue(EditHeight_1));
    WriteSetting(config, Setting::Height2, FieldValue(EditHeight_2));
    WriteSetting(config, Setting::Height3, FieldValue(EditHeight_3));
}

void TFrmSize::ApplyClick(int sizeNo)
{
    emit Apply(PresetWidth(sizeNo), PresetHeight(sizeNo), sizeNo);
    SavePresets();
}
