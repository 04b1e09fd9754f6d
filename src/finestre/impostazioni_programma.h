#pragma once
// What every program's settings have in common: one INI file in the user's configuration folder
// (~/.config/qvr/PROGRAMMA.ini), keys written once with their defaults, and one way of telling
// what went wrong.
//
// Reading never fails: a value that cannot be used is left at its default and described in a
// Problema (the key concerned, the Italian text with its error number), so that a window can
// say what is wrong and a program can tell one problem from another by its key. Writing throws
// an ErroreQvr (75 no access, 57 any other failure) and leaves the file as it was.

#include <QList>
#include <QSettings>
#include <QString>
#include <QStringList>
#include <QVariant>

namespace qvr {

// A key of a settings file and the value a missing key stands for.
template <typename T> struct Chiave {
    const char* nome;
    T predefinito;
    QString testo() const { return QString::fromLatin1(nome); }
};

struct Problema {
    QString chiave; // the key concerned (Chiave::testo()), "" for the file as a whole
    QString testo;
};

QStringList testiProblemi(const QList<Problema>& problemi);
// `problemi` without those about `chiave` (a value given on the command line, say).
QList<Problema> senzaProblemiDi(QList<Problema> problemi, const QString& chiave);

class FileImpostazioni {
public:
    // `programma`: the application's name, the file's name without ".ini".
    explicit FileImpostazioni(const QString& programma);

    QSettings& ini() { return m_ini; }
    QString percorso() const { return m_ini.fileName(); }

    // The error number of a file QSettings could not read (75 no access, 13 not a settings
    // file), 0 when it was read.
    int numeroErroreLettura() const;

    bool contiene(const char* chiave) const { return m_ini.contains(QString::fromLatin1(chiave)); }
    template <typename T> QVariant grezzo(const Chiave<T>& c) const {
        return m_ini.value(c.testo(), QVariant::fromValue(c.predefinito));
    }
    template <typename T> T valore(const Chiave<T>& c) const {
        return grezzo(c).template value<T>();
    }
    template <typename T> void imposta(const Chiave<T>& c, const T& v) {
        m_ini.setValue(c.testo(), QVariant::fromValue(v));
    }

    // Before the first value is written: the file exists, is a regular file and is its owner's
    // only (mode 600: it may hold a password or a PIN's hash). ErroreQvr otherwise.
    void preparaPrivato();
    // Writes what was set; ErroreQvr when the file could not be written.
    void scrivi();

private:
    QSettings m_ini;
};

} // namespace qvr
