#pragma once

#include "files/Loudness.h"
#include "library/Library.h"
#include "platform/Clock.h"
#include "platform/Desktop.h"
#include "platform/FileOperations.h"
#include "platform/SettingsStore.h"
#include "platform/SoundOutput.h"
#include "platform/Volumes.h"
#include "platform/WaveFile.h"

// The platform services the windows are given; tests hand in fakes.
struct Services
{
    SettingsStore &settings;
    SoundOutput &sound;
    WaveLength &waveLength;
    Clock &clock;
    Volumes &volumes;
    Desktop &desktop;
    FileOperations &files;
    LoudnessMeasure measureLoudness = ::measureLoudness;
    // Where the library is kept; none when empty.
    QString libraryFile = {};
};

// The real services of a desktop run.
class SystemServices final
{
public:
    Services services()
    {
        return {m_settings, m_sound,           m_waveLength,
                m_clock,    m_volumes,         m_desktop,
                m_files,    ::measureLoudness, Library::defaultStoreFile()};
    }

private:
    IniSettingsStore m_settings;
    SdlSoundOutput m_sound;
    SndfileWaveLength m_waveLength;
    MonotonicClock m_clock;
    SystemVolumes m_volumes;
    SystemDesktop m_desktop;
    SystemFileOperations m_files;
};
