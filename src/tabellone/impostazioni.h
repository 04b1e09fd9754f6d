#pragma once
// The board's settings: Qt's INI format in the user's configuration folder
// (~/.config/qvr/qvr-tabellone.ini on Linux).
#include <QList>
#include <QString>

namespace qvr::tabellone {

struct Impostazioni {
    QString archivio;                                        // archive folder, as text
    QList<int> postazioni = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10}; // stations shown
    QString titolo = QStringLiteral("Sala d'attesa");        // title line
    bool nominativi = false;                                 // show the station user's name
    bool voce = true;                                        // announce the calls
    int volume = 80;                                         // 0..100

    // Reads the settings; values out of range fall back to the defaults. `errore` receives a
    // message with its number when the file cannot be read ("" otherwise).
    static Impostazioni leggi(QString* errore = nullptr);
    // Writes the settings; false with `errore` set when the file cannot be written.
    bool scrivi(QString* errore = nullptr) const;
    static QString percorsoFile();
};

// "1,2,3" -> {1,2,3}: stations 1..10 only, each once, in order.
QList<int> analizzaPostazioni(const QString& testo);
QString testoPostazioni(const QList<int>& postazioni);

} // namespace qvr::tabellone
