#pragma once
// One copy of the client per machine.
//
// On Linux the copy that runs holds a Unix socket bound to a name in the abstract namespace
// (by default "qvr-client"): the name lives in the kernel, not in the file system, so no file,
// folder or link that anybody plants can stand in for it or be written through, and the kernel
// frees the name the instant the process ends, however it ends. A start that finds the name
// taken asks the kernel who holds it: a copy of this program is the message of a second copy;
// anything else is a refusal that names the process holding it. Elsewhere a lock file in a
// folder shared by every user of the machine is used.

#include <QString>

#include <memory>

class QLockFile;

namespace qvr {

class CopiaUnica {
public:
    // The name the check uses when none is given: the environment variable QVR_COPIA_UNICA when
    // set (tests give each run its own), otherwise "qvr-client".
    static QString percorsoPredefinito();
    // Tests point every copy of their process at a private name.
    static void impostaPercorsoPredefinito(const QString& percorso);

    explicit CopiaUnica(const QString& percorso = percorsoPredefinito());
    ~CopiaUnica();
    CopiaUnica(const CopiaUnica&) = delete;
    CopiaUnica& operator=(const CopiaUnica&) = delete;

    // True when this is the only running copy (the name is now ours and is held until
    // rilascia() or the destructor); false when it is held. A check that cannot be made at all
    // does not stop the start.
    bool acquisisci();
    void rilascia();
    bool acquisita() const { return m_acquisita; }

    // After a refusal: true when the holder is a copy of this program; otherwise
    // descrizioneDetentore() tells what holds the name ("processo 123 (nome) dell'utente 65534").
    bool detentoreECopia() const { return m_detentoreECopia; }
    QString descrizioneDetentore() const { return m_detentore; }

private:
    QString m_nome;
    int m_presa = -1;
    std::unique_ptr<QLockFile> m_blocco;
    bool m_acquisita = false;
    bool m_detentoreECopia = true;
    QString m_detentore;
};

} // namespace qvr
