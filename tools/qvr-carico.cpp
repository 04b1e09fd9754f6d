// qvr-carico: many stations calling on one archive at once, through the very operations the
// console runs, and a check of what the archive holds afterwards.
//
//   qvr-carico singola  [--stazioni 10] [--chiamate 1000] [--cartella DIR] [--archivio URI]
//       Single numbering with the kiosk in use: two kiosk processes issue tickets of the shared
//       sequence while every station reads the waiting count (P11Q), draws from Nr4All.txt and
//       refreshes the count, as a press of " Avanti     " does. Then: every number from 1 to
//       stations x calls drawn exactly once, none drawn before the kiosk had issued its ticket
//       (each station reads P11 right after its draw: a number above it was called while nobody
//       held it), each station's single-numbering record holding its last number, no error
//       reported.
//   qvr-carico standard [--stazioni 2] [--chiamate 500] [--cartella DIR] [--archivio URI]
//       Standard numbering: several consoles configured for the same station press the call
//       button at the same instant. Then: no number published twice, and the display record
//       holds the last one.
//
//   qvr-carico ufficio [--durata 600] [--registratore | --confronto]
//       An office's day at its busiest: ten stations in standard numbering each calling every
//       500 ms and two kiosks issuing on the ten sequences, for --durata seconds. With
//       --registratore the office's recorder (qvr-server beside this program) watches the
//       archive meanwhile, and its journal must then hold every ticket and every call of the
//       processes' own records, in each station's order: none missing, none twice. With
//       --confronto two such offices run at the same time on two archives alike (the second
//       beside the first: a folder "-senza", or a database "_senza" on the same server), the
//       recorder watching only the first, and their stations' latencies are compared.
//
// With --archivio the archive is made there (a folder or a server URI: an existing archive is
// replaced) instead of in DIR/archivio; the processes' records stay in DIR.
//
// Exit status 0 when every check holds. The per-station programs are this same executable,
// started with an internal first argument.

#include "app/globali.h"
#include "archive/biglietti.h"
#include "archive/contatore.h"
#include "archive/crea_archivio.h"
#include "archive/cursore.h"
#include "archive/errori.h"
#include "archive/informazioni.h"
#include "archive/nomi.h"
#include "archive/percorsi_archivio.h"
#include "archive/server.h"
#include "console/operazioni.h"
#include "registro/deposito.h"
#include "registro/registro.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>
#include <QTextStream>
#include <QThread>

#include <chrono>
#include <sys/resource.h>
#include <thread>

#include <algorithm>
#include <cstdio>
#include <map>
#include <memory>
#include <optional>
#include <vector>

using namespace qvr;

namespace {

QTextStream out(stdout);
QTextStream err(stderr);

// Every station process waits for this file before its first call, so they all start together.
const QString NomeVia = QStringLiteral("via");

void attendiVia(const QString& cartella) {
    while (!QFileInfo::exists(QDir(cartella).filePath(NomeVia)))
        QThread::usleep(200);
}

double mediana(std::vector<double> v) {
    if (v.empty())
        return 0;
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

double percentile(std::vector<double> v, double p) {
    if (v.empty())
        return 0;
    std::sort(v.begin(), v.end());
    return v[std::min(v.size() - 1, static_cast<size_t>(p * static_cast<double>(v.size())))];
}

// Writes each number drawn and each call's latency: "number latency_ms", unbuffered: a station
// killed at any moment has already recorded every number it drew and published.
struct Registro {
    QFile file;
    explicit Registro(const QString& nome) : file(nome) {
        if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate | QIODevice::Unbuffered))
            throw ErroreQvr(Err::AccessoNegato, nome);
    }
    void scrivi(qint32 numero, double ms, qint32 biglietto = -1) {
        QByteArray riga = QByteArray::number(numero) + ' ' + QByteArray::number(ms, 'f', 3);
        if (biglietto >= 0)
            riga += ' ' + QByteArray::number(biglietto);
        file.write(riga + '\n');
    }
};

// ---- station processes ----

// One press of the call button in standard numbering, logged with its time.
void premiAvanti(Registro& registro) {
    QElapsedTimer t;
    t.start();
    const operazioni::EsitoPressione esito = operazioni::ChiamaProssimo(false, false);
    const double ms = static_cast<double>(t.nsecsElapsed()) / 1e6;
    if (!esito.chiamato)
        throw ErroreQvr(Err::ErroreArchivio, QStringLiteral("pressione senza chiamata"));
    registro.scrivi(NumeroChiamato, ms);
}

// The last ticket the kiosk issued in the shared sequence (P11).
qint32 ultimoBigliettoSingolo(const QString& cartella) {
    Cursore c;
    c.impostaDatabase(unisciPercorso(cartella, nomi::FileTotem));
    c.impostaOrigine(nomi::TabNumerazione);
    c.aggiorna();
    return c.campoLong(nomi::CampoP11);
}

// One station in single numbering with the kiosk in use, doing what a press of the call button
// does: the gate on P11Q, the draw (with the gate again under the counter's lock), the refresh
// of the count. A press that finds nobody waiting changes nothing; the station's monitor
// refreshes the count and the operator presses again. After each draw the station reads P11:
// the ticket of the number drawn must be there already.
int stazioneSingola(const QString& cartella, int postazione, int chiamate, const QString& uscita) {
    PercorsoArchivi = cartella;
    NumeroPostazione = postazione;
    TotemInUso = true;
    ModoSingolo = true;
    Registro registro(uscita);
    attendiVia(QFileInfo(uscita).absolutePath());
    int fatte = 0;
    while (fatte < chiamate) {
        if (operazioni::valoreNumerico(operazioni::LeggiCodaSingola()) == 0) {
            // Nobody waiting: the operator presses again a moment later, after the monitor
            // refreshed the count (at a desk the timer does it every 32 s).
            QThread::msleep(20);
            operazioni::AggiornaCodaSingola();
            continue;
        }
        QElapsedTimer t;
        t.start();
        const std::optional<qint32> estratto = operazioni::ChiamaSingolaConCoda(false);
        const double ms = static_cast<double>(t.nsecsElapsed()) / 1e6;
        if (!estratto) {
            // Another station called the one waiting first: as above.
            QThread::msleep(20);
            operazioni::AggiornaCodaSingola();
            continue;
        }
        const qint32 biglietto = ultimoBigliettoSingolo(cartella);
        operazioni::AggiornaCodaSingola();
        registro.scrivi(*estratto, ms, biglietto);
        ++fatte;
    }
    return 0;
}

// One console of a station in standard numbering pressing the call button.
int stazioneStandard(const QString& cartella, int postazione, int chiamate, const QString& uscita) {
    PercorsoArchivi = cartella;
    NumeroPostazione = postazione;
    Registro registro(uscita);
    attendiVia(QFileInfo(uscita).absolutePath());
    for (int i = 0; i < chiamate; ++i)
        premiAvanti(registro);
    return 0;
}

// A kiosk: issues tickets of the shared sequence until `totale`, one every couple of
// milliseconds, as fast as people could take them at a busy kiosk; logs "number waiting".
// Two of them share the counter: together they issue every number once.
int chiosco(const QString& cartella, int totale, const QString& uscita) {
    QFile registro(uscita);
    if (!registro.open(QIODevice::WriteOnly | QIODevice::Truncate))
        throw ErroreQvr(Err::AccessoNegato, uscita);
    attendiVia(QFileInfo(uscita).absolutePath());
    int emessi = 0;
    while (emessi < totale) {
        const biglietti::Biglietto b = biglietti::emetti(cartella, biglietti::SequenzaSingola);
        emessi = b.numero;
        registro.write(QByteArray::number(b.numero) + ' ' + QByteArray::number(b.coda) + '\n');
        QThread::msleep(2);
    }
    return 0;
}

// The office scenario's station: one press of the call button every `intervallo` ms (on a fixed
// schedule, so that a slow call does not slow the rate, `ritardo` ms late) until `durata` ms
// have passed.
int stazioneUfficio(const QString& cartella, int postazione, int durata, int intervallo,
                    int ritardo, const QString& uscita) {
    PercorsoArchivi = cartella;
    NumeroPostazione = postazione;
    Registro registro(uscita);
    attendiVia(QFileInfo(uscita).absolutePath());
    const auto inizio = std::chrono::steady_clock::now();
    // The stations' presses spread over the interval, as at real desks.
    const int scarto = (postazione - 1) * intervallo / nomi::NumeroPostazioni + ritardo;
    for (int i = 0; i * intervallo < durata; ++i) {
        std::this_thread::sleep_until(inizio + std::chrono::milliseconds(i * intervallo + scarto));
        premiAvanti(registro);
    }
    return 0;
}

// The office scenario's kiosk: one ticket every `intervallo` ms, on the sequences 1..10 in turn
// (the second kiosk starting halfway, both `ritardo` ms late); logs "number sequence".
int chioscoUfficio(const QString& cartella, int k, int durata, int intervallo, int ritardo,
                   const QString& uscita) {
    Registro registro(uscita);
    attendiVia(QFileInfo(uscita).absolutePath());
    const auto inizio = std::chrono::steady_clock::now();
    const int scarto = (k - 1) * intervallo / 2 + ritardo;
    for (int i = 0; i * intervallo < durata; ++i) {
        std::this_thread::sleep_until(inizio + std::chrono::milliseconds(i * intervallo + scarto));
        const int sequenza = 1 + (i + 5 * (k - 1)) % nomi::NumeroPostazioni;
        const biglietti::Biglietto b = biglietti::emetti(cartella, sequenza);
        registro.scrivi(b.numero, 0, sequenza);
    }
    return 0;
}

// ---- the coordinator ----

struct Processo {
    QProcess* processo;
    QString nome;
    QString registro;
};

Processo avvia(const QStringList& argomenti, const QString& nome, const QString& registro) {
    auto* p = new QProcess;
    p->setProcessChannelMode(QProcess::ForwardedErrorChannel);
    p->start(QCoreApplication::applicationFilePath(), argomenti);
    if (!p->waitForStarted(10000))
        throw ErroreQvr(Err::ErroreArchivio, QStringLiteral("processo non avviato: ") + nome);
    return {p, nome, registro};
}

bool attendiTutti(std::vector<Processo>& processi) {
    bool tuttiBene = true;
    for (auto& p : processi) {
        p.processo->waitForFinished(-1);
        if (p.processo->exitStatus() != QProcess::NormalExit || p.processo->exitCode() != 0) {
            err << "ERRORE: " << p.nome << " terminato con codice " << p.processo->exitCode()
                << Qt::endl;
            tuttiBene = false;
        }
        delete p.processo;
    }
    return tuttiBene;
}

// Lets the processes go together, waits for all of them and returns the seconds it took.
double gara(const QString& base, std::vector<Processo>& processi, bool* tuttiBene) {
    QElapsedTimer tempo;
    tempo.start();
    QFile via(QDir(base).filePath(NomeVia));
    via.open(QIODevice::WriteOnly);
    via.close();
    *tuttiBene = attendiTutti(processi);
    const double secondi = static_cast<double>(tempo.elapsed()) / 1000.0;
    QFile::remove(QDir(base).filePath(NomeVia));
    return secondi;
}

struct Letti {
    std::vector<qint32> numeri;
    std::vector<double> latenze;
    std::vector<qint32> biglietti; // P11 read right after each draw (-1 when not recorded)
};

Letti leggiRegistro(const QString& nome) {
    Letti l;
    QFile f(nome);
    if (!f.open(QIODevice::ReadOnly))
        return l;
    while (!f.atEnd()) {
        const QList<QByteArray> parti = f.readLine().trimmed().split(' ');
        if (parti.size() != 2 && parti.size() != 3)
            continue;
        l.numeri.push_back(parti[0].toInt());
        l.latenze.push_back(parti[1].toDouble());
        l.biglietti.push_back(parti.size() == 3 ? parti[2].toInt() : -1);
    }
    return l;
}

void stampaLatenze(const std::vector<double>& latenze, double secondi, int chiamate) {
    out << QStringLiteral("  chiamate: %1 in %2 s (%3 al secondo)\n")
               .arg(chiamate)
               .arg(secondi, 0, 'f', 2)
               .arg(chiamate / std::max(secondi, 1e-9), 0, 'f', 0);
    out << QStringLiteral(
               "  latenza di una chiamata: mediana %1 ms, 99° percentile %2 ms, massima %3 ms\n")
               .arg(mediana(latenze), 0, 'f', 2)
               .arg(percentile(latenze, 0.99), 0, 'f', 2)
               .arg(latenze.empty() ? 0.0 : *std::max_element(latenze.begin(), latenze.end()), 0,
                    'f', 2);
}

QString preparaCartella(const QString& richiesta, QTemporaryDir& temporanea) {
    if (!richiesta.isEmpty()) {
        QDir().mkpath(richiesta);
        return QFileInfo(richiesta).absoluteFilePath();
    }
    if (!temporanea.isValid())
        throw ErroreQvr(Err::AccessoNegato, QStringLiteral("cartella temporanea"));
    return temporanea.path();
}

// Whether station n's single-numbering record holds `ultimo`, the last number it drew, in the
// state of a call in progress.
bool registroSingoloGiusto(const QString& archivio, int n, qint32 ultimo) {
    PercorsoArchivi = archivio;
    Cursore c;
    c.impostaDatabase(unisciPercorso(archivio, nomi::FileQVRA));
    c.impostaOrigine(nomi::tabNumerazioneSingle(n));
    c.aggiorna();
    const qint32 registrato = c.campoLong(nomi::CampoNUMERO);
    const qint32 stato = c.campoLong(nomi::CampoStato);
    if (registrato == ultimo && stato == nomi::StatoInCorso)
        return true;
    err << "ERRORE: NumerazioneSingle" << n << " contiene " << registrato << " (stato " << stato
        << ") invece di " << ultimo << Qt::endl;
    return false;
}

constexpr int ChioschiSingola = 2;

// The kiosks' tickets of the single-numbering scenario: every number once up to at least
// `totale`, none skipped, the waiting count within bounds.
bool bigliettiDelChiosco(const QString& base, int totale) {
    std::map<qint32, int> biglietti;
    int codeFuori = 0;
    for (int k = 1; k <= ChioschiSingola; ++k) {
        const Letti l = leggiRegistro(base + QStringLiteral("/chiosco%1.txt").arg(k));
        for (size_t i = 0; i < l.numeri.size(); ++i) {
            ++biglietti[l.numeri[i]];
            if (l.latenze[i] < 0 || l.latenze[i] > l.numeri[i])
                ++codeFuori;
        }
    }
    int bigliettiDoppi = 0;
    for (const auto& [numero, volte] : biglietti)
        bigliettiDoppi += volte - 1;
    const qint32 ultimoBiglietto = biglietti.empty() ? 0 : biglietti.rbegin()->first;
    const int bigliettiSaltati = ultimoBiglietto - static_cast<int>(biglietti.size()) +
                                 bigliettiDoppi + (biglietti.count(0) ? 1 : 0);
    out << QStringLiteral("  %1 chioschi: biglietti %2, emessi due volte %3, saltati %4, "
                          "code fuori dai limiti %5\n")
               .arg(ChioschiSingola)
               .arg(ultimoBiglietto)
               .arg(bigliettiDoppi)
               .arg(bigliettiSaltati)
               .arg(codeFuori);
    return bigliettiDoppi == 0 && bigliettiSaltati == 0 && codeFuori == 0 &&
           ultimoBiglietto >= totale;
}

int scenarioSingola(const QString& cartellaRichiesta, const QString& archivioRichiesto,
                    int stazioni, int chiamate) {
    QTemporaryDir temporanea;
    const QString base = preparaCartella(cartellaRichiesta, temporanea);
    const QString archivio =
        archivioRichiesto.isEmpty() ? base + QStringLiteral("/archivio") : archivioRichiesto;
    OpzioniArchivio opzioni;
    for (auto& modo : opzioni.modi)
        modo = QStringLiteral("SG");
    opzioni.totem = true;
    creaArchivio(archivio, opzioni, true);
    QFile::remove(QDir(base).filePath(NomeVia));
    const int totale = stazioni * chiamate;
    out << QStringLiteral("Numerazione singola: %1 postazioni x %2 chiamate, chiosco in uso\n")
               .arg(stazioni)
               .arg(chiamate);
    out.flush();

    std::vector<Processo> processi;
    for (int k = 1; k <= ChioschiSingola; ++k) {
        const QString registro = base + QStringLiteral("/chiosco%1.txt").arg(k);
        processi.push_back(
            avvia({QStringLiteral("--chiosco"), archivio, QString::number(totale), registro},
                  QStringLiteral("chiosco %1").arg(k), registro));
    }
    for (int n = 1; n <= stazioni; ++n) {
        const QString registro = base + QStringLiteral("/stazione%1.txt").arg(n);
        processi.push_back(avvia({QStringLiteral("--stazione-singola"), archivio,
                                  QString::number(n), QString::number(chiamate), registro},
                                 QStringLiteral("postazione %1").arg(n), registro));
    }
    bool bene = true;
    const double secondi = gara(base, processi, &bene);

    std::map<qint32, int> visti;
    std::vector<double> latenze;
    int senzaBiglietto = 0;
    for (int n = 1; n <= stazioni; ++n) {
        const Letti l = leggiRegistro(base + QStringLiteral("/stazione%1.txt").arg(n));
        for (size_t i = 0; i < l.numeri.size(); ++i)
            if (l.biglietti[i] < 0 || l.numeri[i] > l.biglietti[i])
                ++senzaBiglietto;
        if (static_cast<int>(l.numeri.size()) != chiamate) {
            err << "ERRORE: la postazione " << n << " ha registrato " << l.numeri.size()
                << " chiamate invece di " << chiamate << Qt::endl;
            bene = false;
        }
        for (qint32 numero : l.numeri)
            ++visti[numero];
        latenze.insert(latenze.end(), l.latenze.begin(), l.latenze.end());
        // The station's single-numbering record holds the last number it drew.
        if (!l.numeri.empty() && !registroSingoloGiusto(archivio, n, l.numeri.back()))
            bene = false;
    }
    bene = bigliettiDelChiosco(base, totale) && bene;
    int doppi = 0;
    int mancanti = 0;
    for (qint32 numero = 1; numero <= totale; ++numero) {
        const auto it = visti.find(numero);
        if (it == visti.end())
            ++mancanti;
        else if (it->second > 1)
            doppi += it->second - 1;
    }
    const int fuoriSequenza =
        static_cast<int>(std::count_if(visti.begin(), visti.end(), [&](const auto& v) {
            return v.first < 1 || v.first > totale;
        }));
    const qint32 contatore = contatore::leggiLong(fileArchivio(archivio, nomi::FileContatore));
    out << QStringLiteral("  numeri estratti due volte: %1, mancanti: %2, fuori sequenza: %3, "
                          "Nr4All.txt: %4\n")
               .arg(doppi)
               .arg(mancanti)
               .arg(fuoriSequenza)
               .arg(contatore);
    out << QStringLiteral("  numeri chiamati prima del loro biglietto: %1\n").arg(senzaBiglietto);
    stampaLatenze(latenze, secondi, totale);
    bene = bene && doppi == 0 && mancanti == 0 && fuoriSequenza == 0 && contatore == totale &&
           senzaBiglietto == 0;
    out << (bene ? "ESITO: OK\n" : "ESITO: ERRORE\n");
    return bene ? 0 : 1;
}

int scenarioStandard(const QString& cartellaRichiesta, const QString& archivioRichiesto,
                     int console, int chiamate) {
    QTemporaryDir temporanea;
    const QString base = preparaCartella(cartellaRichiesta, temporanea);
    const QString archivio =
        archivioRichiesto.isEmpty() ? base + QStringLiteral("/archivio") : archivioRichiesto;
    creaArchivio(archivio, {}, true);
    QFile::remove(QDir(base).filePath(NomeVia));
    out << QStringLiteral("Numerazione standard: %1 console della postazione 1 x %2 chiamate, "
                          "premute nello stesso istante\n")
               .arg(console)
               .arg(chiamate);
    out.flush();

    std::vector<Processo> processi;
    for (int i = 1; i <= console; ++i) {
        const QString registro = base + QStringLiteral("/console%1.txt").arg(i);
        processi.push_back(avvia({QStringLiteral("--stazione-standard"), archivio,
                                  QStringLiteral("1"), QString::number(chiamate), registro},
                                 QStringLiteral("console %1").arg(i), registro));
    }
    bool bene = true;
    const double secondi = gara(base, processi, &bene);

    std::map<qint32, int> visti;
    std::vector<double> latenze;
    for (int i = 1; i <= console; ++i) {
        const Letti l = leggiRegistro(base + QStringLiteral("/console%1.txt").arg(i));
        for (qint32 numero : l.numeri)
            ++visti[numero];
        latenze.insert(latenze.end(), l.latenze.begin(), l.latenze.end());
    }
    int doppi = 0;
    for (const auto& [numero, volte] : visti)
        doppi += volte - 1;
    const int totale = console * chiamate;
    PercorsoArchivi = archivio;
    NumeroPostazione = 1;
    Cursore c;
    c.impostaDatabase(unisciPercorso(archivio, nomi::FileQVRB));
    c.impostaOrigine(nomi::querySelezionaTutto(nomi::tabNumeriCode(1)));
    c.aggiorna();
    const qint32 ultimo = c.campoLong(nomi::CampoNumeroA1);
    out << QStringLiteral("  numeri pubblicati due volte: %1, numeri distinti: %2, "
                          "NumeroA1 finale: %3\n")
               .arg(doppi)
               .arg(visti.size())
               .arg(ultimo);
    stampaLatenze(latenze, secondi, totale);
    bene = bene && doppi == 0 && static_cast<int>(visti.size()) == totale && ultimo == totale;
    out << (bene ? "ESITO: OK\n" : "ESITO: ERRORE\n");
    return bene ? 0 : 1;
}

// How often each value occurs.
template <typename T> std::map<T, int> conteggio(const std::vector<T>& v) {
    std::map<T, int> m;
    for (const T& x : v)
        ++m[x];
    return m;
}

// What `atteso` holds and `visto` lacks (missing), and what `visto` holds beyond it (twice or
// never done), counted with repetitions.
std::pair<int, int> differenza(const std::map<qint32, int>& atteso,
                               const std::map<qint32, int>& visto) {
    int mancanti = 0, inPiu = 0;
    for (const auto& [n, volte] : atteso) {
        const auto it = visto.find(n);
        const int v = it == visto.end() ? 0 : it->second;
        mancanti += std::max(0, volte - v);
        inPiu += std::max(0, v - volte);
    }
    for (const auto& [n, volte] : visto)
        if (!atteso.count(n))
            inPiu += volte;
    return {mancanti, inPiu};
}

// The nice value of the recorder's system unit.
constexpr int PrioritaRegistratore = -5;
constexpr int Stazioni = nomi::NumeroPostazioni, Chioschi = 2, OgniChiamata = 500,
              OgniBiglietto = 100;

// One office of the scenario: its archive, where its processes keep their records (the file
// names start with `prefisso`) and, when it has one, its recorder.
struct Ufficio {
    QString archivio;
    QString base;
    QString prefisso;
    bool conRegistratore = false;
    int ritardo = 0; // ms after the first office's schedule
    std::unique_ptr<QProcess> server;

    QString record(const QString& nome) const { return base + QLatin1Char('/') + prefisso + nome; }
    QString stazione(int n) const { return record(QStringLiteral("stazione%1.txt").arg(n)); }
    QString chiosco(int k) const { return record(QStringLiteral("chiosco%1.txt").arg(k)); }
};

bool inizioRegistrato(const QString& archivio) {
    try {
        const auto giornale = qvr::registro::deposito(archivio);
        giornale->apriLettura();
        for (const auto& e : giornale->tutti())
            if (e.tipo == qvr::registro::Tipo::Avvio)
                return true;
    } catch (const ErroreQvr&) {
    }
    return false;
}

// Starts the office's recorder at its unit's priority and waits until it has recorded its start.
void avviaRegistratore(Ufficio& u) {
    u.server = std::make_unique<QProcess>();
    u.server->setProcessChannelMode(QProcess::ForwardedErrorChannel);
    u.server->start(QCoreApplication::applicationDirPath() + QStringLiteral("/qvr-server"),
                    {QStringLiteral("--archivio"), u.archivio});
    if (!u.server->waitForStarted(10000))
        throw ErroreQvr(Err::ErroreArchivio, QStringLiteral("qvr-server non avviato"));
    // The priority its system unit gives it (Nice=-5), when this process may give it.
    if (::setpriority(PRIO_PROCESS, id_t(u.server->processId()), PrioritaRegistratore) == 0)
        out << QStringLiteral("  qvr-server con priorità %1\n").arg(PrioritaRegistratore);
    else
        out << QStringLiteral("  qvr-server con la priorità normale (%1 non concessa)\n")
                   .arg(PrioritaRegistratore);
    out.flush();
    QElapsedTimer t;
    t.start();
    while (!inizioRegistrato(u.archivio)) {
        if (t.elapsed() > 20000)
            throw ErroreQvr(Err::ErroreArchivio,
                            QStringLiteral("qvr-server non ha registrato l'avvio"));
        QThread::msleep(50);
    }
}

bool fermaRegistratore(Ufficio& u) {
    u.server->terminate();
    if (u.server->waitForFinished(10000) && u.server->exitStatus() == QProcess::NormalExit &&
        u.server->exitCode() == 0)
        return true;
    err << "ERRORE: qvr-server non si è fermato regolarmente" << Qt::endl;
    u.server->kill();
    u.server->waitForFinished(5000);
    return false;
}

// The journal against the processes' own records: each station's calls in its order, each
// sequence's tickets, anything else counted as unexpected. True when they agree.
bool verificaGiornale(const Ufficio& u, const std::vector<std::vector<qint32>>& chiamate,
                      const std::vector<std::vector<qint32>>& biglietti) {
    const auto giornale = qvr::registro::deposito(u.archivio);
    giornale->apriLettura();
    std::vector<std::vector<qint32>> chiamateRegistro(Stazioni + 1),
        bigliettiRegistro(nomi::NumeroPostazioni + 1);
    int altri = 0;
    qint64 eventiUfficio = 0;
    for (const auto& e : giornale->tutti()) {
        using qvr::registro::Tipo;
        if (e.tipo == Tipo::Chiamata && !e.richiamo && !e.singola && e.postazione >= 1 &&
            e.postazione <= Stazioni) {
            chiamateRegistro[size_t(e.postazione)].push_back(e.numero);
            ++eventiUfficio;
        } else if (e.tipo == Tipo::Biglietto && e.sequenza >= 1 &&
                   e.sequenza <= nomi::NumeroPostazioni) {
            bigliettiRegistro[size_t(e.sequenza)].push_back(e.numero);
            ++eventiUfficio;
        } else if (e.tipo != Tipo::Avvio && e.tipo != Tipo::Arresto) {
            ++altri; // a recall, a wait, a gap, a loss...: none happened
            err << "  evento inatteso nel registro: " << qvr::registro::nomeTipo(e.tipo) << ' '
                << e.postazione << ' ' << e.numero << ' ' << e.dettaglio << Qt::endl;
        }
    }
    int mancanti = 0, doppi = 0, fuoriOrdine = 0;
    for (int n = 1; n <= Stazioni; ++n) {
        const auto [m, d] = differenza(conteggio(chiamate[n]), conteggio(chiamateRegistro[n]));
        mancanti += m;
        doppi += d;
        if (m == 0 && d == 0 && chiamate[n] != chiamateRegistro[n])
            ++fuoriOrdine;
    }
    int bMancanti = 0, bDoppi = 0;
    for (int s = 1; s <= nomi::NumeroPostazioni; ++s) {
        const auto [m, d] = differenza(conteggio(biglietti[s]), conteggio(bigliettiRegistro[s]));
        bMancanti += m;
        bDoppi += d;
    }
    out << QStringLiteral("  registro: %1 eventi dell'ufficio; chiamate mancanti %2, in più "
                          "%3, postazioni fuori ordine %4; biglietti mancanti %5, in più %6; "
                          "altri eventi %7\n")
               .arg(eventiUfficio)
               .arg(mancanti)
               .arg(doppi)
               .arg(fuoriOrdine)
               .arg(bMancanti)
               .arg(bDoppi)
               .arg(altri);
    return mancanti == 0 && doppi == 0 && fuoriOrdine == 0 && bMancanti == 0 && bDoppi == 0 &&
           altri == 0;
}

// What one office's processes recorded, checked; its calls' latencies into `latenze`.
bool verificaUfficio(const Ufficio& u, int durata, double secondi, std::vector<double>& latenze) {
    bool bene = true;
    const int attese = (durata + OgniChiamata - 1) / OgniChiamata;
    std::vector<std::vector<qint32>> chiamate(Stazioni + 1);
    for (int n = 1; n <= Stazioni; ++n) {
        const Letti l = leggiRegistro(u.stazione(n));
        chiamate[n] = l.numeri;
        latenze.insert(latenze.end(), l.latenze.begin(), l.latenze.end());
        if (int(l.numeri.size()) != attese) {
            err << "ERRORE: la postazione " << n << " ha registrato " << l.numeri.size()
                << " chiamate invece di " << attese << Qt::endl;
            bene = false;
        }
    }
    std::vector<std::vector<qint32>> biglietti(nomi::NumeroPostazioni + 1);
    int totaleBiglietti = 0;
    for (int k = 1; k <= Chioschi; ++k) {
        const Letti l = leggiRegistro(u.chiosco(k));
        for (size_t i = 0; i < l.numeri.size(); ++i)
            if (l.biglietti[i] >= 1 && l.biglietti[i] <= nomi::NumeroPostazioni) {
                biglietti[size_t(l.biglietti[i])].push_back(l.numeri[i]);
                ++totaleBiglietti;
            }
    }
    out << QStringLiteral("  biglietti emessi: %1\n").arg(totaleBiglietti);
    stampaLatenze(latenze, secondi, int(latenze.size()));
    double somma = 0;
    for (double x : latenze)
        somma += x;
    out << QStringLiteral("  latenza media: %1 ms, 90° percentile %2 ms\n")
               .arg(latenze.empty() ? 0.0 : somma / double(latenze.size()), 0, 'f', 3)
               .arg(percentile(latenze, 0.90), 0, 'f', 3);
    if (u.conRegistratore)
        bene = verificaGiornale(u, chiamate, biglietti) && bene;
    return bene;
}

// The archive of the control office beside `archivio`: a folder beside it, or on the same
// server a database of the same name with "_senza" after it.
QString archivioDiConfronto(const QString& archivio) {
    if (!eServer(archivio))
        return archivio + QStringLiteral("-senza");
    return server::uriConDatabase(archivio, server::analizzaUri(archivio).database +
                                                QStringLiteral("_senza"));
}

// The difference of `con` from `senza`, in percent.
QString scarto(double con, double senza) {
    return QStringLiteral("%1%2 %")
        .arg(con >= senza ? "+" : "")
        .arg(senza > 0 ? 100.0 * (con - senza) / senza : 0.0, 0, 'f', 1);
}

void stampaConfronto(const std::vector<double>& con, const std::vector<double>& senza) {
    out << QStringLiteral("Confronto (con il registratore rispetto a senza): mediana %1 contro "
                          "%2 ms (%3), 90° percentile %4 contro %5 ms (%6), 99° percentile %7 "
                          "contro %8 ms (%9)\n")
               .arg(mediana(con), 0, 'f', 3)
               .arg(mediana(senza), 0, 'f', 3)
               .arg(scarto(mediana(con), mediana(senza)))
               .arg(percentile(con, 0.90), 0, 'f', 3)
               .arg(percentile(senza, 0.90), 0, 'f', 3)
               .arg(scarto(percentile(con, 0.90), percentile(senza, 0.90)))
               .arg(percentile(con, 0.99), 0, 'f', 3)
               .arg(percentile(senza, 0.99), 0, 'f', 3)
               .arg(scarto(percentile(con, 0.99), percentile(senza, 0.99)));
}

// With `confronto` two offices run at once, on two archives alike, and only the first has the
// recorder: both meet the same load of the machine, so the difference between their latencies
// is the recorder's.
int scenarioUfficio(const QString& cartellaRichiesta, const QString& archivioRichiesto, int durataS,
                    bool conRegistratore, bool confronto) {
    QTemporaryDir temporanea;
    const QString base = preparaCartella(cartellaRichiesta, temporanea);
    std::vector<Ufficio> uffici(confronto ? 2 : 1);
    uffici[0].archivio =
        archivioRichiesto.isEmpty() ? base + QStringLiteral("/archivio") : archivioRichiesto;
    uffici[0].conRegistratore = conRegistratore || confronto;
    if (confronto) {
        uffici[1].archivio = archivioDiConfronto(uffici[0].archivio);
        uffici[1].prefisso = QStringLiteral("senza-");
        // Halfway between two presses of the first office: the two never press at the same
        // instant, where the first to reach the disk would always be the same one.
        uffici[1].ritardo = OgniChiamata / Stazioni / 2;
    }
    OpzioniArchivio opzioni;
    opzioni.totem = true;
    for (Ufficio& u : uffici) {
        u.base = base;
        creaArchivio(u.archivio, opzioni, true);
    }
    QFile::remove(QDir(base).filePath(NomeVia));
    const int durata = durataS * 1000;
    out << QStringLiteral("Ufficio: %1 postazioni che chiamano ogni %2 ms e %3 chioschi che "
                          "emettono ogni %4 ms per %5 s, %6\n")
               .arg(Stazioni)
               .arg(OgniChiamata)
               .arg(Chioschi)
               .arg(OgniBiglietto)
               .arg(durataS)
               .arg(confronto         ? QStringLiteral("su due archivi insieme, il primo con il "
                                                               "registratore e il secondo senza")
                    : conRegistratore ? QStringLiteral("con il registratore")
                                      : QStringLiteral("senza registratore"));
    out.flush();
    for (Ufficio& u : uffici)
        if (u.conRegistratore)
            avviaRegistratore(u);
    // The two offices' processes in turn, so that neither starts first.
    std::vector<Processo> processi;
    for (int k = 1; k <= Chioschi; ++k)
        for (const Ufficio& u : uffici)
            processi.push_back(
                avvia({QStringLiteral("--chiosco-ufficio"), u.archivio, QString::number(k),
                       QString::number(durata), QString::number(OgniBiglietto),
                       QString::number(u.ritardo), u.chiosco(k)},
                      u.prefisso + QStringLiteral("chiosco %1").arg(k), u.chiosco(k)));
    for (int n = 1; n <= Stazioni; ++n)
        for (const Ufficio& u : uffici)
            processi.push_back(
                avvia({QStringLiteral("--stazione-ufficio"), u.archivio, QString::number(n),
                       QString::number(durata), QString::number(OgniChiamata),
                       QString::number(u.ritardo), u.stazione(n)},
                      u.prefisso + QStringLiteral("postazione %1").arg(n), u.stazione(n)));
    bool bene = true;
    const double secondi = gara(base, processi, &bene);
    // Time for the last poll and write, then the stop.
    QThread::msleep(1000);
    for (Ufficio& u : uffici)
        if (u.conRegistratore)
            bene = fermaRegistratore(u) && bene;

    std::vector<std::vector<double>> latenze(uffici.size());
    for (size_t i = 0; i < uffici.size(); ++i) {
        if (confronto)
            out << (i == 0 ? "Con il registratore (" : "Senza registratore (")
                << server::uriPerMessaggi(uffici[i].archivio) << "):\n";
        bene = verificaUfficio(uffici[i], durata, secondi, latenze[i]) && bene;
    }
    if (confronto)
        stampaConfronto(latenze[0], latenze[1]);
    out << (bene ? "ESITO: OK\n" : "ESITO: ERRORE\n");
    return bene ? 0 : 1;
}

// The station and kiosk processes this program starts of itself: their internal first argument
// and what they return; nullopt for a command line of a person.
std::optional<int> processoInterno(const QStringList& argomenti) {
    if (argomenti.size() == 8 && argomenti[1] == QStringLiteral("--stazione-ufficio"))
        return stazioneUfficio(argomenti[2], argomenti[3].toInt(), argomenti[4].toInt(),
                               argomenti[5].toInt(), argomenti[6].toInt(), argomenti[7]);
    if (argomenti.size() == 8 && argomenti[1] == QStringLiteral("--chiosco-ufficio"))
        return chioscoUfficio(argomenti[2], argomenti[3].toInt(), argomenti[4].toInt(),
                              argomenti[5].toInt(), argomenti[6].toInt(), argomenti[7]);
    if (argomenti.size() >= 2 && argomenti[1].startsWith(QStringLiteral("--stazione-")) &&
        argomenti.size() == 6) {
        const bool singola = argomenti[1] == QStringLiteral("--stazione-singola");
        return singola ? stazioneSingola(argomenti[2], argomenti[3].toInt(), argomenti[4].toInt(),
                                         argomenti[5])
                       : stazioneStandard(argomenti[2], argomenti[3].toInt(), argomenti[4].toInt(),
                                          argomenti[5]);
    }
    if (argomenti.size() == 5 && argomenti[1] == QStringLiteral("--chiosco"))
        return chiosco(argomenti[2], argomenti[3].toInt(), argomenti[4]);
    return std::nullopt;
}

int principale(const QStringList& argomenti) {
    if (const std::optional<int> esito = processoInterno(argomenti))
        return *esito;
    QCommandLineParser parser;
    parser.setApplicationDescription(
        QStringLiteral("Prova di carico: molte postazioni che chiamano insieme sullo stesso "
                       "archivio, con le stesse operazioni della console.\n\n") +
        informazioni::testoLicenza());
    parser.addHelpOption();
    const QCommandLineOption versione = informazioni::opzioneVersione();
    parser.addOption(versione);
    parser.addPositionalArgument(QStringLiteral("scenario"),
                                 QStringLiteral("singola, standard oppure ufficio"));
    QCommandLineOption stazioni(QStringLiteral("stazioni"),
                                QStringLiteral("Numero di postazioni (o console) in gara."),
                                QStringLiteral("n"));
    QCommandLineOption chiamate(QStringLiteral("chiamate"),
                                QStringLiteral("Chiamate di ciascuna postazione."),
                                QStringLiteral("n"));
    QCommandLineOption cartella(QStringLiteral("cartella"),
                                QStringLiteral("Cartella di lavoro (predefinita: temporanea)."),
                                QStringLiteral("cartella"));
    QCommandLineOption archivioOpz(
        QStringLiteral("archivio"),
        QStringLiteral("Archivio da creare e usare: cartella o indirizzo postgresql:// "
                       "(predefinito: CARTELLA/archivio)."),
        QStringLiteral("archivio"));
    QCommandLineOption durataOpz(QStringLiteral("durata"),
                                 QStringLiteral("Scenario ufficio: secondi di carico (600)."),
                                 QStringLiteral("s"));
    QCommandLineOption registratoreOpz(
        QStringLiteral("registratore"),
        QStringLiteral("Scenario ufficio: con qvr-server che registra, e il registro verificato."));
    QCommandLineOption confrontoOpz(
        QStringLiteral("confronto"),
        QStringLiteral("Scenario ufficio: due uffici insieme su due archivi uguali, il primo con "
                       "qvr-server e il secondo senza, e le loro latenze a confronto."));
    parser.addOptions(
        {stazioni, chiamate, cartella, archivioOpz, durataOpz, registratoreOpz, confrontoOpz});
    parser.process(argomenti);
    if (parser.isSet(versione)) {
        QTextStream(stdout) << informazioni::testoVersione(QStringLiteral("qvr-carico"));
        return 0;
    }
    const QStringList posizionali = parser.positionalArguments();
    if (posizionali.size() != 1) {
        err << "Indicare lo scenario: singola, standard oppure ufficio (--help per l'aiuto)."
            << Qt::endl;
        return 2;
    }
    if (posizionali[0] == QStringLiteral("ufficio")) {
        const int durata = parser.isSet(durataOpz) ? parser.value(durataOpz).toInt() : 600;
        if (durata < 1) {
            err << "Valore non valido per --durata." << Qt::endl;
            return 2;
        }
        return scenarioUfficio(parser.value(cartella), parser.value(archivioOpz), durata,
                               parser.isSet(registratoreOpz), parser.isSet(confrontoOpz));
    }
    const bool singola = posizionali[0] == QStringLiteral("singola");
    if (!singola && posizionali[0] != QStringLiteral("standard")) {
        err << "Scenario sconosciuto: " << posizionali[0] << Qt::endl;
        return 2;
    }
    const int n = parser.isSet(stazioni) ? parser.value(stazioni).toInt()
                                         : (singola ? nomi::NumeroPostazioni : 2);
    const int c = parser.isSet(chiamate) ? parser.value(chiamate).toInt() : (singola ? 1000 : 500);
    if (n < 1 || n > (singola ? nomi::NumeroPostazioni : 50) || c < 1) {
        err << "Valori non validi per --stazioni o --chiamate." << Qt::endl;
        return 2;
    }
    return singola ? scenarioSingola(parser.value(cartella), parser.value(archivioOpz), n, c)
                   : scenarioStandard(parser.value(cartella), parser.value(archivioOpz), n, c);
}

} // namespace

int main(int argc, char* argv[]) {
    QCoreApplication app(argc, argv);
    try {
        return principale(app.arguments());
    } catch (const ErroreQvr& e) {
        err << e.testoCompleto() << Qt::endl;
        return 1;
    }
}
