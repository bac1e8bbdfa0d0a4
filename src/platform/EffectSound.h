#pragma once

#include "platform/Sound.h"

#include <QString>
#include <memory>

class QSoundEffect;

// The capture sound through Qt Multimedia, from the WAV embedded as ":/SOUND".
class TEffectSound : public TSound
{
public:
    explicit TEffectSound(const QString& source = QStringLiteral("qrc:/SOUND"));
    ~TEffectSound() override;

    void Play() override;

private:
    QString FSource;
    std::unique_ptr<QSoundEffect> FEffect;
};
