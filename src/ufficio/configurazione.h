#pragma once
// The office's configuration as the stations read it, and its changes: which user works at
// which station and in which numbering mode (QVR.mdb's PostazioneUtente), the users (Utenti),
// the wrap after 99 (QVR.mdb's Configurazione), the kiosk in use (Totem.mdb's RHDSN) and the
// display front end switch (QVRB.mdb's FEAcceso).
//
// Every change is one write transaction that first reads the value it replaces: when that value
// is no longer the one the caller showed (another manager's window, a station's launcher or a
// tool changed it meanwhile), nothing is written and the result carries the value found, for
// the window to show and ask about. Values are written with the types the stations read:
// Posto<n>ID a Long, Posto<n>SS the text "ST" or "SG", the wrap and FEAcceso Yes/No (-1/0),
// RHDSN the text "SI" or "NO".
//
// `archivio` is the archive folder as text or a server URI. Failures are ErroreQvr.

#include "archive/nomi.h"

#include <QString>
#include <QVariant>
#include <QVector>

#include <array>

namespace qvr::ufficio {

inline const QString ModoStandard = QStringLiteral("ST");
inline const QString ModoSingolo = QStringLiteral("SG");
inline const QString TotemSi = QStringLiteral("SI");
inline const QString TotemNo = QStringLiteral("NO");

// The longest name the Nominativo field takes (the text field's size in the archive's layout).
constexpr int LunghezzaNominativo = 50;

// How a field's value is compared and written.
enum class Tipo { Long, Testo, SiNo };

// A field of a one-row table: its database, the record source and the name.
struct Campo {
    QString file;
    QString origine;
    QString nome;
    Tipo tipo;

    static Campo postoId(int postazione);
    static Campo postoModo(int postazione);
    static Campo dopo99Standard();
    static Campo dopo99Singola();
    static Campo totem();
    static Campo display();
};

// A value as the window shows and compares it: Long as qint32 (Null 0), Text as QString (Null
// ""), Yes/No as bool (Null false).
QVariant normalizza(const QVariant& grezzo, Tipo tipo);

struct Utente {
    qint32 id = 0;
    QString nominativo;
    bool operator==(const Utente&) const = default;
};

struct Postazione {
    qint32 idUtente = 0;
    QString modo; // as stored: exactly "SG" is single numbering
    bool singola() const { return modo == ModoSingolo; }
    bool operator==(const Postazione&) const = default;
};

struct Configurazione {
    std::array<Postazione, nomi::NumeroPostazioni> postazioni; // index 0 is station 1
    QVector<Utente> utenti;                                    // in id order
    bool dopo99Standard = false;
    bool dopo99Singola = false;
    QString totem; // RHDSN as stored: exactly "SI" is in use
    bool display = false;

    QVariant valore(const Campo& c) const;
    void imposta(const Campo& c, const QVariant& v);
    // The stations (1..10) whose user is `id`.
    QVector<int> postazioniDi(qint32 id) const;
    const Utente* utente(qint32 id) const;
};

Configurazione leggiConfigurazione(const QString& archivio);

// A field's value in words, for the questions and the status line: "Standard" or
// "Numerazione singola", "in uso" or "non in uso", "sì" or "no", a user's id and name.
QString testoValore(const Configurazione& conf, const Campo& c, const QVariant& v);
// What the field is, in words: "utente della postazione 3", "totem in uso", ...
QString nomeCampo(const Campo& c);

// The outcome of a change: written, or refused because the value had changed since it was
// shown (`attuale` then holds what was found, normalised; for the users' changes the users'
// list and stations found are in `configurazione`).
struct Esito {
    bool scritto = false;
    QVariant attuale;
};

// Writes `nuovo` into the field when it still holds `visto` (both as normalizza gives them).
Esito scriviCampo(const QString& archivio, const Campo& campo, const QVariant& visto,
                  const QVariant& nuovo);

// Why a typed name cannot be stored ("" when it can): empty, longer than the field, or holding
// characters a name cannot hold (line ends, tabs, other control characters).
QString motivoNominativoNonValido(const QString& nominativo);
// Why an id cannot be used ("" when it can): it must be 1 to 2147483647.
QString motivoIdNonValido(qint64 id);

// The users' changes, each one transaction on QVR.mdb. `visto` is the user as shown (for a new
// user: nothing); `postazioniViste` the stations shown using it, which the operator was asked
// about. A change finds the user, its name and its stations as shown, or writes nothing.
struct EsitoUtente {
    enum Tipo { Scritto, Cambiato, IdInUso } tipo = Scritto;
    bool scritto() const { return tipo == Scritto; }
};
EsitoUtente aggiungiUtente(const QString& archivio, const Utente& nuovo);
EsitoUtente rinominaUtente(const QString& archivio, const Utente& visto, const QString& nome);
// The stations that used the old id take the new one in the same transaction.
EsitoUtente cambiaIdUtente(const QString& archivio, const Utente& visto,
                           const QVector<int>& postazioniViste, qint32 nuovoId);
// The stations that used it keep the id (their launcher then says no user is set).
EsitoUtente rimuoviUtente(const QString& archivio, const Utente& visto,
                          const QVector<int>& postazioniViste);

} // namespace qvr::ufficio
