#pragma once

// The main window's command layer, as the popup menus call it: one method per command, and
// the four switches of the common menu.
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
    virtual void Play() = 0;
    virtual void Remove() = 0;
    // The same 0.3 s that "&Play" waits before it plays the file list.
    virtual void pauseBeforeMenuPlay() = 0;
    // "&Buttons", "Large filelist", "Save &style", "Save &cond": each flips its switch.
    virtual void toggleButtons() = 0;
    virtual void toggleLargeFileList() = 0;
    virtual void toggleSaveStyle() = 0;
    virtual void toggleSaveCond() = 0;
};
