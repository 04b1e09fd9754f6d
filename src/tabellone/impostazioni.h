#pragma once
// The board's settings: Qt's INI format in the user's configuration folder
// (~/.config/qvr/qvr-tabellone.ini on Linux).
#include "finestre/impostazioni_programma.h"
#include "tabellone/modello.h"

#include <QList>
#include <QString>

namespace qvr::tabellone {

// {1,2,3} -> "1,2,3".
QString testoPostazioni(const QList<int>& postazioni);

// The file's keys and what a missing key stands for.
namespace chiavi {
inline const Chiave<QString> archivio{"archivio", QString()};
inline const Chiave<QString> postazioni{"postazioni", testoPostazioni(tutteLePostazioni())};
inline const Chiave<QString> titolo{"titolo", QStringLiteral("Sala d'attesa")};
inline constexpr Chiave<bool> nominativi{"nominativi", false};
inline constexpr Chiave<bool> voce{"voce", true};
inline constexpr Chiave<int> volume{"volume", 80};
} // namespace chiavi

// "1,2,3" -> {1,2,3}: stations of the office only, each once, in order.
QList<int> analizzaPostazioni(const QString& testo);

struct Impostazioni {
    QString archivio = chiavi::archivio.predefinito;  // archive folder or server address
    QList<int> postazioni = tutteLePostazioni();      // stations shown
    QString titolo = chiavi::titolo.predefinito;      // title line
    bool nominativi = chiavi::nominativi.predefinito; // show the station user's name
    bool voce = chiavi::voce.predefinito;             // announce the calls
    int volume = chiavi::volume.predefinito;          // 0..100

    // Reads the settings; values out of range fall back to the defaults. A file that cannot be
    // read leaves every default and one problem about the whole file.
    static Impostazioni carica(QList<Problema>* problemi = nullptr);
    // Writes the settings; an ErroreQvr when the file cannot be written.
    void salva() const;
    static QString percorsoFile();
};

} // namespace qvr::tabellone
