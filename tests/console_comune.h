#pragma once
// Shared pieces of the console's window tests: a console loaded on a temporary archive, and
// answers for the program's own message window.

#include "app/gestione.h"
#include "app/globali.h"
#include "console/copia_unica.h"
#include "console/form1.h"
#include "dialogs/messaggi.h"
#include "supporto.h"

#include <QAbstractButton>
#include <QApplication>
#include <QFile>
#include <QLabel>
#include <QTest>
#include <QTimer>

#include <memory>

namespace qvr::test {

// An archive, percorsi.txt for the station, a private single-copy lock and a loaded console.
struct ConsoleProva {
    explicit ConsoleProva(int stazione, const OpzioniArchivio& opzioni = {}, bool carica = true)
        : ambiente(opzioni), stazione(stazione) {
        ambiente.scriviPercorsi(stazione);
        CopiaUnica::impostaPercorsoPredefinito(ambiente.cartella() + QStringLiteral("/copia.lock"));
        messaggi::azzeraRegistro();
        messaggi::impostaRispostaAutomatica(true);
        TotemInUso = opzioni.totem; // as the launcher's "Avvia Client" leaves it
        form = std::make_unique<Form1>();
        if (carica)
            this->carica();
    }
    bool carica() {
        caricato = eseguiGestito([this] { form->Carica(); });
        return caricato;
    }
    ~ConsoleProva() {
        form.reset();
        messaggi::impostaRispostaAutomatica(false);
        messaggi::azzeraRegistro();
        CopiaUnica::impostaPercorsoPredefinito({});
    }

    QString file(const QString& nome) const { return ambiente.file(nome); }
    QVariant sql(const QString& db, const QString& query) const {
        return interroga(ambiente.file(db), query);
    }
    QByteArray cronologia(int stazione) const {
        QFile f(ambiente.cartella() +
                QStringLiteral("/Cronologia-%1.txt").arg(stazione, 2, 10, QLatin1Char('0')));
        return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("<assente>");
    }
    void scriviContatore(const QByteArray& riga) const {
        scriviContatoreGrezzo(ambiente.file(QStringLiteral("Nr4All.txt")), riga);
    }
    QByteArray contatore() const {
        const QByteArray c = contatoreGrezzo(ambiente.file(QStringLiteral("Nr4All.txt")));
        return c == "<mancante>" ? QByteArray("<assente>") : c;
    }
    template <typename T> T* controllo(const QString& nome) const {
        return form->findChild<T*>(nome);
    }

    UscitaIntercettata uscita; // before the console: the console's ending is caught
    AmbienteProva ambiente;
    std::unique_ptr<Form1> form;
    int stazione;
    bool caricato = false;
};

// Presses the button PB1(indice) of the next modal window that appears (the message window),
// and records the texts of its first line. The looking ends with `contesto` (the console that
// opens the window): it never answers a later test's window or writes into a finished one.
inline void rispondiFinestraModale(QObject* contesto, int indice, QString* primaRiga = nullptr,
                                   int tentativi = 200) {
    QTimer::singleShot(10, contesto, [=] {
        QWidget* modale = QApplication::activeModalWidget();
        if (!modale) {
            if (tentativi > 0)
                rispondiFinestraModale(contesto, indice, primaRiga, tentativi - 1);
            return;
        }
        if (primaRiga)
            if (auto* riga = modale->findChild<QLabel*>(QStringLiteral("Label2_0")))
                *primaRiga = riga->text();
        if (auto* pulsante =
                modale->findChild<QAbstractButton*>(QStringLiteral("PB1_%1").arg(indice)))
            pulsante->click();
    });
}

// A clock for the history: the given times one after the other.
inline Cronologia::Orologio orologioFisso(QList<QDateTime> tempi) {
    auto coda = std::make_shared<QList<QDateTime>>(std::move(tempi));
    return [coda] { return coda->size() > 1 ? coda->takeFirst() : coda->first(); };
}

} // namespace qvr::test
