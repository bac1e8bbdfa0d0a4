#include "platform/EffectSound.h"

#include <QAudioDevice>
#include <QMediaDevices>
#include <QSoundEffect>
#include <QUrl>

TEffectSound::TEffectSound(const QString& source) : FSource(source) {}

TEffectSound::~TEffectSound() = default;

void TEffectSound::Play()
{
    if (!FEffect) {
        // Without an output device the effect would only log an error on
        // every play; a machine without sound stays quiet, and a device that
        // turns up later is used from then on.
        if (QMediaDevices::defaultAudioOutput().isNull())
            return;
        FEffect = std::make_unique<QSoundEffect>();
        FEffect->setSource(QUrl(FSource));
    }
    // The effect loads asynchronously; a Play() before the load finishes is
    // remembered and plays once the sample is ready.
    FEffect->play();
}
