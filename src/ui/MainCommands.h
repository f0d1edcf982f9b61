#pragma once

// What the main window's actions run: one method per command, the switches of the common
// menu, and the keys that are no menu's command.
class MainCommands
{
public:
    virtual ~MainCommands() = default;
    virtual void About() = 0;
    virtual void Add() = 0;
    virtual void Copy() = 0;
    virtual void Delete() = 0;
    virtual void Edit() = 0;
    virtual void Ende() = 0;
    virtual void ListPlay() = 0;
    virtual void NewEditor() = 0;
    // Plays the file list's selection, as "Chain &Play" and the double click do.
    virtual void playFileSelection() = 0;
    virtual void Remove() = 0;
    // The same 0.3 s that "&Play" waits before it plays the file list.
    virtual void pauseBeforeMenuPlay() = 0;
    // "&Buttons", "Large filelist", "Save &style", "Save &cond": each flips its switch.
    virtual void toggleButtons() = 0;
    virtual void toggleLargeFileList() = 0;
    virtual void toggleSaveStyle() = 0;
    virtual void toggleSaveCond() = 0;
    // "&Waveform" and "Auto &preview", the switches of auditioning.
    virtual void toggleWaveform() = 0;
    virtual void toggleAutoPreview() = 0;
    virtual void openParentFolder() = 0;
    virtual void reread() = 0;
    virtual void stopSound() = 0;
    // Auditioning: Space plays the entry at hand or ends the sound; the playhead moves by
    // seconds; the sound at hand repeats or not.
    virtual void playOrStop() = 0;
    virtual void skip(int seconds) = 0;
    virtual void toggleLoop() = 0;
};
