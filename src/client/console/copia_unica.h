#pragma once
// One copy of the client per machine: a lock file in a folder that every user of the machine
// shares. The lock holds the process id, so the lock left by a copy that crashed is recognised
// and taken over by the next start.

#include <QString>

#include <memory>

class QLockFile;

namespace qvr {

class CopiaUnica {
public:
    // The lock file used when none is given (/tmp/qvr-client.lock on Linux).
    static QString percorsoPredefinito();
    // Tests point every copy of their process at a private lock file.
    static void impostaPercorsoPredefinito(const QString& percorso);

    explicit CopiaUnica(const QString& percorso = percorsoPredefinito());
    ~CopiaUnica();
    CopiaUnica(const CopiaUnica&) = delete;
    CopiaUnica& operator=(const CopiaUnica&) = delete;

    // True when this is the only running copy (the lock is now ours and is held until
    // rilascia() or the destructor); false when another live copy holds it. A lock that
    // cannot even be checked (folder not writable) does not stop the start.
    bool acquisisci();
    void rilascia();
    bool acquisita() const { return m_acquisita; }

private:
    std::unique_ptr<QLockFile> m_blocco;
    bool m_acquisita = false;
};

} // namespace qvr
