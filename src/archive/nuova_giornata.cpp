#include "archive/nuova_giornata.h"

#include "archive/contatore.h"
#include "archive/cursore.h"
#include "archive/errori.h"
#include "archive/motore.h"
#include "archive/nomi.h"
#include "archive/percorsi_archivio.h"

#include <QFile>
#include <QFileInfo>
#include <QStringList>

#include <cerrno>
#include <sys/stat.h>
#include <unistd.h>

namespace qvr::giornata {

namespace {

// The first row of `origine` in the database `file` of the archive, with every field of
// `campi`: read only, nothing is written. A database file of a folder archive must be
// writable, and so must its folder (the engine writes its journal next to it).
void controllaRiga(const QString& cartella, const QString& file, const QString& origine,
                   const QStringList& campi) {
    Cursore c;
    c.impostaDatabase(unisciPercorso(cartella, file));
    c.impostaOrigine(origine);
    c.aggiorna();
    for (const QString& campo : campi)
        c.campo(campo); // 3021 without the row, 3265 without the field
    c.chiudi();
    MotoreArchivio::di(cartella)->controllaScrivibile(file);
}

QStringList campiTotem() {
    QStringList campi;
    for (int n = 1; n <= nomi::NumeroSequenze; ++n)
        campi << nomi::campoP(n);
    return campi << nomi::CampoP11Q;
}

const QStringList CampiDisplay = {nomi::CampoNumeroA1, nomi::CampoStatoN1, nomi::CampoF1};

} // namespace

void nuovaGiornata(const QString& cartella, const Avanzamento& avanzamento) {
    const auto passo = [&](const QString& testo) {
        if (avanzamento)
            avanzamento(testo);
    };

    // Everything checked first: a fault found here leaves the archive as it was.
    controllaRiga(cartella, nomi::FileTotem, nomi::TabNumerazione, campiTotem());
    for (int n = 1; n <= nomi::NumeroPostazioni; ++n)
        controllaRiga(cartella, nomi::FileQVRB, nomi::querySelezionaTutto(nomi::tabNumeriCode(n)),
                      CampiDisplay);
    MotoreArchivio::di(cartella)->controllaContatore();

    {
        Cursore c;
        c.impostaDatabase(unisciPercorso(cartella, nomi::FileTotem));
        c.impostaOrigine(nomi::TabNumerazione);
        c.aggiorna(true);
        c.modifica();
        for (int n = 1; n <= nomi::NumeroSequenze; ++n)
            c.assegna(nomi::campoP(n), 0);
        c.assegna(nomi::CampoP11Q, 0.0);
        c.salva();
        c.chiudi();
    }
    passo(QStringLiteral("Contatori del totem azzerati"));

    contatore::scriviNumeroCreando(fileArchivio(cartella, nomi::FileContatore), 0);
    passo(QStringLiteral("Nr4All.txt azzerato"));

    for (int n = 1; n <= nomi::NumeroPostazioni; ++n) {
        Cursore c;
        c.impostaDatabase(unisciPercorso(cartella, nomi::FileQVRB));
        c.impostaOrigine(nomi::querySelezionaTutto(nomi::tabNumeriCode(n)));
        c.aggiorna(true);
        c.modifica();
        c.assegna(nomi::CampoNumeroA1, static_cast<qint16>(0));
        c.assegna(nomi::CampoStatoN1, static_cast<qint16>(nomi::StatoAssente));
        c.assegna(nomi::CampoF1, QStringLiteral("F"));
        c.salva();
        c.chiudi();
    }
    passo(QStringLiteral("Postazioni azzerate (Assente...)"));
}

} // namespace qvr::giornata

namespace qvr {

void MotoreCartella::controllaScrivibile(const QString& file) const {
    const QString nativo = fileArchivio(m_testo, file);
    for (const QString& percorso : {nativo, QFileInfo(nativo).absolutePath()})
        if (::access(QFile::encodeName(percorso).constData(), W_OK) != 0)
            throw ErroreQvr(Err::SolaLettura, percorso);
}

// The row is read under its lock: any content is fine (the reset replaces it), a missing row is
// made; a server that cannot be reached stops here.
void MotoreServer::controllaContatore() const {
    try {
        contatore::leggiTesto(fileArchivio(m_testo, nomi::FileContatore));
    } catch (const ErroreQvr& e) {
        const int n = e.numero();
        if (n != Err::FileNonTrovato && n != Err::FineFile && n != Err::TipoNonCorrispondente &&
            n != Err::Overflow)
            throw;
    }
}

// The counter file as the reset will find it: a regular file that can be written, or missing in
// a folder that lets it be created. Anything else in its place is refused (75), as the counter's
// own open would refuse it, but before anything has changed.
void MotoreCartella::controllaContatore() const {
    const QString percorso = fileArchivio(m_testo, nomi::FileContatore);
    const QByteArray nome = QFile::encodeName(percorso);
    struct stat st {};
    if (::lstat(nome.constData(), &st) != 0) {
        const int codice = errno;
        const QByteArray cartellaNativa = QFile::encodeName(QFileInfo(percorso).absolutePath());
        if (codice == ENOENT && ::access(cartellaNativa.constData(), W_OK) == 0)
            return; // created by the reset
        if (codice == ENOENT && ::access(cartellaNativa.constData(), F_OK) == 0)
            throw ErroreQvr(Err::AccessoNegato, QString::fromLocal8Bit(cartellaNativa));
        throw ErroreQvr(numeroDaErrno(codice), percorso);
    }
    if (S_ISLNK(st.st_mode))
        throw ErroreQvr(Err::AccessoNegato,
                        percorso + QStringLiteral(": è un collegamento simbolico"));
    if (!S_ISREG(st.st_mode))
        throw ErroreQvr(Err::AccessoNegato, percorso + QStringLiteral(": non è un file regolare"));
    if (::access(nome.constData(), W_OK) != 0)
        throw ErroreQvr(numeroDaErrno(errno), percorso);
}

} // namespace qvr
