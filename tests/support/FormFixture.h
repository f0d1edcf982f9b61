#pragma once

#include "Fakes.h"
#include "FormControls.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>
#include <memory>
#include <optional>

// What the window tests start from: a temporary folder holding the named files ("sub/c.wav"
// makes its folder too, "to/" only a folder; each file holds "RIFF" and its name), the fake
// services with that folder as the process's current directory, and, when asked, the main window
// over them.
class FormFixture
{
protected:
    void makeFolder(const QStringList &files)
    {
        // The window goes before the fakes it was given: it lets go of their sound output.
        m_form.reset();
        m_dir = std::make_unique<QTemporaryDir>();
        for (const QString &name : files) {
            QVERIFY(QDir(m_dir->path()).mkpath(QFileInfo(name).path()));
            if (name.endsWith(QLatin1Char('/')))
                continue;
            QFile file(m_dir->filePath(name));
            QVERIFY(file.open(QIODevice::WriteOnly));
            file.write("RIFF" + QFileInfo(name).fileName().toUtf8());
        }
        m_fakes = std::make_unique<FakeServices>();
        m_fakes->volumes.current = m_dir->path();
    }

    // The main window over the fakes, or over services of the test's own.
    Form1 &makeForm(std::optional<Services> services = std::nullopt)
    {
        m_form = std::make_unique<Form1>(services ? *services : m_fakes->services());
        return *m_form;
    }

    std::unique_ptr<QTemporaryDir> m_dir;
    std::unique_ptr<FakeServices> m_fakes;
    std::unique_ptr<Form1> m_form;
};
