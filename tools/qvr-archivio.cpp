// qvr-archivio: the archive folder from the command line. Creates a complete archive (as the
// other programs of the queue system would), shows its state, issues kiosk tickets and writes the
// station settings file percorsi.txt.

#include "archive/biglietti.h"
#include "archive/contatore.h"
#include "archive/copia_archivio.h"
#include "archive/crea_archivio.h"
#include "archive/cursore.h"
#include "archive/errori.h"
#include "archive/file_percorsi.h"
#include "archive/informazioni.h"
#include "archive/nomi.h"
#include "archive/nuova_giornata.h"
#include "archive/percorsi_archivio.h"
#include "archive/server.h"
#include "registro/deposito.h"
#include "registro/registro.h"
#include "statistiche_archivio.h"

#include <QCommandLineOption>
#include <QCommandLineParser>
#include <QCoreApplication>
#include <QFileInfo>
#include <QGuiApplication>
#include <QTextStream>

#include <algorithm>
#include <functional>
#include <memory>

using namespace qvr;

namespace {

constexpr int UscitaErrore = 1;
constexpr int UscitaUso = 2;

QTextStream& out() {
    static QTextStream s(stdout);
    return s;
}

QTextStream& err() {
    static QTextStream s(stderr);
    return s;
}

const char* const TestoAiuto =
    "Uso: qvr-archivio <comando> <cartella> [argomenti] [opzioni]\n"
    "\n"
    "Gestisce la cartella dell'archivio condiviso del sistema di code: crea un archivio\n"
    "completo, ne mostra lo stato, emette biglietti come il totem e scrive percorsi.txt.\n"
    "\n"
    "Comandi:\n"
    "  crea <cartella>                 Crea un archivio completo nella cartella (creata se\n"
    "                                  manca): QVR.mdb, QVRA.mdb, QVRB.mdb, Totem.mdb,\n"
    "                                  Agenda.mdb e Nr4All.txt con 0, con dieci utenti e\n"
    "                                  l'utente n assegnato alla postazione n, e il registro\n"
    "                                  di qvr-server (Registro.mdb, o lo schema registro sul\n"
    "                                  server; uno già presente resta).\n"
    "  stato <cartella>                Mostra lo stato: utente, numerazione, record del\n"
    "                                  display e record della numerazione singola di ogni\n"
    "                                  postazione, contatori del totem, RHDSN e Nr4All.txt.\n"
    "  biglietto <cartella> <p>        Emette un biglietto del totem e stampa il nuovo numero:\n"
    "                                  <p> è una postazione da 1 a 10 (campo P1..P10) oppure\n"
    "                                  \"singola\" per la sequenza condivisa (campo P11).\n"
    "  nuova-giornata <cartella>       Prepara una nuova giornata: contatori del totem e P11Q\n"
    "                                  a 0, Nr4All.txt a 0, ogni postazione a 0 in stato\n"
    "                                  \"Assente...\". Si può ripetere se si interrompe.\n"
    "  copia <da> <a>                  Copia un archivio in un altro (cartella o server, in\n"
    "                                  entrambi i sensi), poi confronta ogni campo di ogni\n"
    "                                  riga e Nr4All.txt: stato di uscita 1 a ogni differenza.\n"
    "                                  Copia e verifica anche il registro di qvr-server (su\n"
    "                                  un registro di destinazione non vuoto non scrive).\n"
    "                                  Con --sovrascrivi sostituisce l'archivio di destinazione.\n"
    "  statistiche <cartella> [--dal AAAA-MM-GG] [--al AAAA-MM-GG] [--csv FILE] [--pdf FILE]\n"
    "                                  Le cifre del registro di qvr-server (cartella o URI): per\n"
    "                                  giorno, sequenza, postazione e ora biglietti, chiamate,\n"
    "                                  richiami, mai chiamati, attese e tempi allo sportello;\n"
    "                                  --csv per un foglio di calcolo (\";\", virgola\n"
    "                                  decimale), --pdf un rapporto A4 con i grafici.\n"
    "  percorsi <cartella> <p>         Scrive percorsi.txt nella cartella di lavoro corrente\n"
    "                                  con la cartella dell'archivio (scritta così com'è:\n"
    "                                  un percorso relativo vale dalla cartella di lavoro)\n"
    "                                  e la postazione <p> (da 0 a 10).\n"
    "\n"
    "La <cartella> può essere anche l'indirizzo di un server PostgreSQL, per esempio\n"
    "postgresql://utente@server:5432/ufficio1 (un database per ufficio).\n"
    "\n"
    "Opzioni di \"crea\":\n"
    "  --singola <elenco>              Postazioni in numerazione singola (SG), es. 1,3,5;\n"
    "                                  le altre restano in numerazione standard (ST).\n"
    "  --modo <N=TESTO>                Testo della numerazione della postazione N, scritto\n"
    "                                  così com'è in Posto<N>SS (ripetibile), es. --modo 2=SG.\n"
    "  --dopo99-singola                Dopo il 99 la numerazione singola riparte da 1.\n"
    "  --dopo99-standard               Dopo il 99 la numerazione standard riparte da 1.\n"
    "  --totem                         Totem in uso (RHDSN = \"SI\").\n"
    "  --sovrascrivi                   Sostituisce un archivio già presente nella cartella.\n"
    "\n"
    "  -h, --help                      Mostra questo aiuto.\n"
    "  -v, --version                   Mostra la versione e la licenza.\n"
    "\n"
    "Uscita: 0 riuscito, 1 errore dell'archivio (\"Errore N: descrizione\"), 2 uso errato.\n"
    "\n";

class ErroreUso {
public:
    explicit ErroreUso(QString testo) : m_testo(std::move(testo)) {}
    const QString& testo() const { return m_testo; }

private:
    QString m_testo;
};

// A station number 1..10 (or 0..10 when `ancheZero`), written in plain digits.
int postazioneDa(const QString& testo, bool ancheZero) {
    bool ok = false;
    const int n = testo.toInt(&ok);
    const bool soloCifre = !testo.isEmpty() && std::all_of(testo.begin(), testo.end(),
                                                           [](QChar c) { return c.isDigit(); });
    if (!ok || !soloCifre || n < (ancheZero ? 0 : 1) || n > nomi::NumeroPostazioni)
        throw ErroreUso(QStringLiteral("postazione non valida: \"%1\" (da %2 a %3)")
                            .arg(testo)
                            .arg(ancheZero ? 0 : 1)
                            .arg(nomi::NumeroPostazioni));
    return n;
}

OpzioniArchivio opzioniDa(const QCommandLineParser& p, const QCommandLineOption& singola,
                          const QCommandLineOption& modo) {
    OpzioniArchivio o;
    for (const QString& elenco : p.values(singola)) {
        for (const QString& voce : elenco.split(QLatin1Char(','), Qt::SkipEmptyParts))
            o.modi[postazioneDa(voce.trimmed(), false) - 1] = QStringLiteral("SG");
    }
    for (const QString& voce : p.values(modo)) {
        const qsizetype uguale = voce.indexOf(QLatin1Char('='));
        if (uguale < 0)
            throw ErroreUso(QStringLiteral("--modo vuole N=TESTO, non \"%1\"").arg(voce));
        o.modi[postazioneDa(voce.left(uguale).trimmed(), false) - 1] = voce.mid(uguale + 1);
    }
    o.dopo99Singola = p.isSet(QStringLiteral("dopo99-singola"));
    o.dopo99Standard = p.isSet(QStringLiteral("dopo99-standard"));
    o.totem = p.isSet(QStringLiteral("totem"));
    return o;
}

// The state of an archive. Every value is read through the client's own cursor and counter
// functions; a value that cannot be read is shown as "?" and its error goes to stderr, and the
// rest is still shown.
class Stato {
public:
    explicit Stato(const QString& cartella) : m_cartella(cartella) {}

    int mostra() {
        out() << "Archivio: "
              << (eServer(m_cartella) ? server::uriPerMessaggi(m_cartella) : m_cartella) << '\n';

        Cursore qvr;
        const bool okConf =
            apri(qvr, nomi::FileQVR, nomi::TabConfigurazione, QStringLiteral("Configurazione"));
        out() << "Configurazione: NovantanoveSingle="
              << (okConf ? siNo(qvr, nomi::CampoNovantanoveSingle) : QStringLiteral("?"))
              << ", NovantanoveStandard="
              << (okConf ? siNo(qvr, nomi::CampoNovantanoveStandard) : QStringLiteral("?")) << '\n';

        Cursore totem;
        const bool okTotemConf =
            apri(totem, nomi::FileTotem, nomi::querySelezionaTutto(nomi::TabConfigurazione),
                 QStringLiteral("Totem.mdb Configurazione"));
        const QString rhdsn = okTotemConf ? testo(totem, nomi::CampoRHDSN) : QStringLiteral("?");
        const bool okNumerazione = apri(totem, nomi::FileTotem, nomi::TabNumerazione,
                                        QStringLiteral("Totem.mdb Numerazione"));
        auto contatoreTotem = [&](const QString& campo) {
            return okNumerazione ? testo(totem, campo) : QStringLiteral("?");
        };
        QStringList contatori;
        for (int n = 1; n <= nomi::NumeroPostazioni; ++n)
            contatori << nomi::campoP(n) + QLatin1Char('=') + contatoreTotem(nomi::campoP(n));
        out() << "Totem: RHDSN=" << rhdsn << ", " << contatori.join(u", ")
              << ", P11=" << contatoreTotem(nomi::CampoP11)
              << ", P11Q=" << contatoreTotem(nomi::CampoP11Q) << '\n';

        QString nr4all = QStringLiteral("?");
        prova(QStringLiteral("Nr4All.txt"), [&] {
            nr4all = contatore::leggiTesto(
                percorsoNativo(unisciPercorso(m_cartella, nomi::FileContatore)));
        });
        out() << "Nr4All.txt: " << nr4all << '\n';

        const bool okPostazioni =
            apri(qvr, nomi::FileQVR, nomi::TabPostazioneUtente, QStringLiteral("PostazioneUtente"));
        QStringList idUtenti;
        QStringList modi;
        for (int n = 1; n <= nomi::NumeroPostazioni; ++n) {
            idUtenti << (okPostazioni ? testo(qvr, nomi::campoPostoID(n)) : QStringLiteral("?"));
            modi << (okPostazioni ? testo(qvr, nomi::campoPostoSS(n)) : QStringLiteral("?"));
        }
        qvr.chiudi();

        for (int n = 1; n <= nomi::NumeroPostazioni; ++n)
            mostraPostazione(n, idUtenti[n - 1], modi[n - 1], contatoreTotem(nomi::campoP(n)));
        out().flush();
        return m_errori == 0 ? 0 : UscitaErrore;
    }

private:
    void mostraPostazione(int n, const QString& idUtente, const QString& modo,
                          const QString& biglietti) {
        QString utente = QStringLiteral("?");
        bool idNumerico = false;
        const qint32 id = idUtente.toInt(&idNumerico);
        if (idNumerico) {
            Cursore c;
            if (apri(c, nomi::FileQVR, nomi::queryUtente(id), QStringLiteral("Utenti")))
                prova(QStringLiteral("Utenti"), [&] {
                    if (!c.haRighe())
                        utente = QStringLiteral("nessun utente");
                    else if (c.campo(nomi::CampoNominativo).isNull())
                        utente = QStringLiteral("senza nome");
                    else
                        utente = c.campo(nomi::CampoNominativo).toString();
                });
        }
        // Only "SG", in that case, selects single numbering.
        const QString numerazione =
            modo == QStringLiteral("SG") ? QStringLiteral("singola") : QStringLiteral("standard");

        Cursore display;
        const QString tabDisplay = nomi::tabNumeriCode(n);
        const bool okDisplay =
            apri(display, nomi::FileQVRB, nomi::querySelezionaTutto(tabDisplay), tabDisplay);
        auto campoDisplay = [&](const QString& campo) {
            return okDisplay ? testo(display, campo) : QStringLiteral("?");
        };

        Cursore singola;
        const QString tabSingola = nomi::tabNumerazioneSingle(n);
        const bool okSingola = apri(singola, nomi::FileQVRA, tabSingola, tabSingola);
        auto campoSingola = [&](const QString& campo) {
            return okSingola ? testo(singola, campo) : QStringLiteral("?");
        };

        out() << "Postazione " << n << ": utente " << idUtente << " (" << utente << "), "
              << nomi::campoPostoSS(n) << '=' << modo << " (" << numerazione << "), " << tabDisplay
              << ": NumeroA1=" << campoDisplay(nomi::CampoNumeroA1)
              << " StatoN1=" << campoDisplay(nomi::CampoStatoN1)
              << " F1=" << campoDisplay(nomi::CampoF1) << ", " << tabSingola
              << ": NUMERO=" << campoSingola(nomi::CampoNUMERO)
              << " Stato=" << campoSingola(nomi::CampoStato) << ", " << nomi::campoP(n) << '='
              << biglietti << '\n';
    }

    // Opens `origine` of a database of the archive; false on failure (already reported).
    bool apri(Cursore& c, const QString& file, const QString& origine, const QString& cosa) {
        bool ok = false;
        prova(file + QLatin1Char(' ') + cosa, [&] {
            c.impostaDatabase(unisciPercorso(m_cartella, file));
            c.impostaOrigine(origine);
            c.aggiorna();
            ok = true;
        });
        return ok;
    }

    QString testo(const Cursore& c, const QString& campo) {
        QString risultato = QStringLiteral("?");
        prova(campo, [&] {
            const QVariant v = c.campo(campo);
            risultato = v.isNull() ? QStringLiteral("Null") : valori::comeTesto(v, campo);
        });
        return risultato;
    }

    QString siNo(const Cursore& c, const QString& campo) {
        QString risultato = QStringLiteral("?");
        prova(campo, [&] {
            const QVariant v = c.campo(campo);
            risultato = valori::comeSiNo(v) ? QStringLiteral("Sì") : QStringLiteral("No");
            if (v.isNull())
                risultato += QStringLiteral(" (Null)");
        });
        return risultato;
    }

    void prova(const QString& cosa, const std::function<void()>& lavoro) {
        try {
            lavoro();
        } catch (const ErroreQvr& e) {
            ++m_errori;
            err() << e.testoCompleto() << " [" << cosa << "]\n";
            err().flush();
        }
    }

    QString m_cartella;
    int m_errori = 0;
};

// Whether the archive has a journal to copy (a missing one is no error: the recorder never ran).
bool haRegistro(const QString& archivio) {
    try {
        registro::deposito(archivio)->apriLettura();
        return true;
    } catch (const ErroreQvr& e) {
        if (e.numero() == Err::DatabaseNonTrovato)
            return false;
        throw;
    }
}

// `copia`: the archive, and its journal when it has one, to another place on either engine,
// then compared field by field.
int copia(const QString& da, const QString& a, bool sovrascrivi) {
    if (da == a)
        throw ErroreUso(QStringLiteral("origine e destinazione coincidono"));
    copiaArchivio(da, a, sovrascrivi);
    const QStringList differenze = confrontaArchivi(da, a);
    if (!differenze.isEmpty()) {
        err() << "La copia non corrisponde all'originale (" << differenze.size()
              << " differenze):\n";
        for (const QString& d : differenze)
            err() << "  " << d << '\n';
        err().flush();
        return UscitaErrore;
    }
    out() << "Archivio copiato e verificato: ogni campo e Nr4All.txt corrispondono.\n";
    // The office's journal goes with the archive, between any engines.
    if (haRegistro(da)) {
        const qint64 n = registro::copia(da, a);
        out() << "Registro copiato e verificato: " << n << " eventi.\n";
    }
    out().flush();
    return 0;
}

// `crea`: a new archive with its journal, and what it was made with.
int crea(const QString& cartella, const OpzioniArchivio& o, bool sovrascrivi) {
    creaArchivio(cartella, o, sovrascrivi);
    // The office's journal: made when missing, an existing one kept (it is the history).
    registro::deposito(cartella)->apriScrittura();
    QStringList sg;
    for (int n = 1; n <= nomi::NumeroPostazioni; ++n)
        if (o.modi[n - 1] == QStringLiteral("SG"))
            sg << QString::number(n);
    out() << "Archivio creato in "
          << (eServer(cartella) ? server::uriPerMessaggi(cartella) : cartella) << '\n'
          << "Numerazione singola: "
          << (sg.isEmpty() ? QStringLiteral("nessuna postazione") : sg.join(u", ")) << '\n'
          << "Dopo il 99 si riparte da 1: singola " << (o.dopo99Singola ? "sì" : "no")
          << ", standard " << (o.dopo99Standard ? "sì" : "no") << '\n'
          << "Totem in uso: " << (o.totem ? "sì" : "no") << '\n';
    out().flush();
    return 0;
}

// The number of words `pos` must have for the command, else the command's use.
void controllaParole(const QStringList& pos, int n, const QString& forma) {
    if (pos.size() != n)
        throw ErroreUso(QStringLiteral("uso: qvr-archivio %1").arg(forma));
}

// The commands that take no options: stato, biglietto, nuova-giornata, percorsi.
int senzaOpzioni(const QStringList& pos) {
    const QString& comando = pos.first();
    auto attesi = [&](int n, const QString& forma) { controllaParole(pos, n, forma); };
    if (comando == QStringLiteral("stato")) {
        attesi(2, QStringLiteral("stato <cartella>"));
        return Stato(pos[1]).mostra();
    }
    if (comando == QStringLiteral("biglietto")) {
        attesi(3, QStringLiteral("biglietto <cartella> <postazione 1..10 | singola>"));
        const int sequenza = pos[2] == QStringLiteral("singola") ? biglietti::SequenzaSingola
                                                                 : postazioneDa(pos[2], false);
        out() << biglietti::emetti(pos[1], sequenza).numero << '\n';
        out().flush();
        return 0;
    }
    if (comando == QStringLiteral("nuova-giornata")) {
        attesi(2, QStringLiteral("nuova-giornata <cartella>"));
        giornata::nuovaGiornata(pos[1], [](const QString& passo) {
            out() << passo << '\n';
            out().flush();
        });
        out() << "Nuova giornata pronta.\n";
        out().flush();
        return 0;
    }
    if (comando == QStringLiteral("percorsi")) {
        attesi(3, QStringLiteral("percorsi <cartella> <postazione 0..10>"));
        const auto postazione = static_cast<qint16>(postazioneDa(pos[2], true));
        ScriviPercorsi(pos[1], postazione);
        out() << "Scritto " << NomeFilePercorsi << ": \""
              << (eServer(pos[1]) ? server::uriPerMessaggi(pos[1]) : pos[1]) << "\"," << postazione
              << '\n';
        out().flush();
        return 0;
    }
    throw ErroreUso(QStringLiteral("comando sconosciuto: \"%1\"").arg(comando));
}

int esegui(const QStringList& argomenti) {
    if (argomenti.size() >= 2 && argomenti[1] == QStringLiteral("statistiche"))
        return strumenti::statistiche(argomenti.mid(2));

    QCommandLineParser p;
    p.setSingleDashWordOptionMode(QCommandLineParser::ParseAsLongOptions);
    const QCommandLineOption aiuto({QStringLiteral("h"), QStringLiteral("help")},
                                   QStringLiteral("Mostra questo aiuto."));
    const QCommandLineOption singola(QStringLiteral("singola"),
                                     QStringLiteral("Postazioni in numerazione singola."),
                                     QStringLiteral("elenco"));
    const QCommandLineOption modo(QStringLiteral("modo"),
                                  QStringLiteral("Numerazione di una postazione."),
                                  QStringLiteral("N=TESTO"));
    const QCommandLineOption versione = informazioni::opzioneVersione();
    p.addOptions({aiuto, versione, singola, modo,
                  QCommandLineOption(QStringLiteral("dopo99-singola"), QStringLiteral("")),
                  QCommandLineOption(QStringLiteral("dopo99-standard"), QStringLiteral("")),
                  QCommandLineOption(QStringLiteral("totem"), QStringLiteral("")),
                  QCommandLineOption(QStringLiteral("sovrascrivi"), QStringLiteral(""))});

    if (!p.parse(argomenti)) {
        if (!p.unknownOptionNames().isEmpty())
            throw ErroreUso(
                QStringLiteral("opzione sconosciuta: %1").arg(p.unknownOptionNames().join(u", ")));
        throw ErroreUso(QStringLiteral("manca il valore di un'opzione (--singola o --modo)"));
    }
    if (p.isSet(aiuto)) {
        out() << QString::fromUtf8(TestoAiuto) << informazioni::testoLicenza();
        out().flush();
        return 0;
    }
    if (p.isSet(versione)) {
        out() << informazioni::testoVersione(QStringLiteral("qvr-archivio"));
        out().flush();
        return 0;
    }

    const QStringList pos = p.positionalArguments();
    if (pos.isEmpty())
        throw ErroreUso(QStringLiteral(
            "manca il comando (crea, stato, biglietto, nuova-giornata, copia, percorsi)"));
    const QString comando = pos.first();
    auto attesi = [&](int n, const QString& forma) { controllaParole(pos, n, forma); };
    // --sovrascrivi serves "crea" and "copia"; the other options only "crea".
    const bool sovrascrivi = p.isSet(QStringLiteral("sovrascrivi"));
    const bool opzioniCrea =
        p.isSet(singola) || p.isSet(modo) || p.isSet(QStringLiteral("dopo99-singola")) ||
        p.isSet(QStringLiteral("dopo99-standard")) || p.isSet(QStringLiteral("totem"));
    if (comando == QStringLiteral("copia") && !opzioniCrea) {
        attesi(3, QStringLiteral("copia <da> <a> [--sovrascrivi]"));
        return copia(pos[1], pos[2], sovrascrivi);
    }
    if (comando != QStringLiteral("crea") && (opzioniCrea || sovrascrivi))
        throw ErroreUso(QStringLiteral("le opzioni di creazione valgono solo con \"crea\""));

    if (comando == QStringLiteral("crea")) {
        attesi(2, QStringLiteral("crea <cartella> [opzioni]"));
        return crea(pos[1], opzioniDa(p, singola, modo), sovrascrivi);
    }
    return senzaOpzioni(pos);
}

} // namespace

int main(int argc, char* argv[]) {
    // The PDF report draws text, which needs the GUI application object; no display is used.
    std::unique_ptr<QCoreApplication> app;
    if (strumenti::vuolePdf(argc, argv)) {
        if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
            qputenv("QT_QPA_PLATFORM", "offscreen");
        app = std::make_unique<QGuiApplication>(argc, argv);
    } else {
        app = std::make_unique<QCoreApplication>(argc, argv);
    }
    QCoreApplication::setApplicationName(QStringLiteral("qvr-archivio"));
    try {
        return esegui(QCoreApplication::arguments());
    } catch (const ErroreUso& e) {
        err() << "qvr-archivio: " << e.testo() << '\n' << "Per l'aiuto: qvr-archivio --help\n";
    } catch (const ErroreQvr& e) {
        err() << e.testoCompleto() << '\n';
        err().flush();
        return UscitaErrore;
    } catch (const std::exception& e) {
        err() << "Errore: " << e.what() << '\n';
        err().flush();
        return UscitaErrore;
    }
    err().flush();
    return UscitaUso;
}
