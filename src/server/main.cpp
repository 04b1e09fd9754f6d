// qvr-server: the office's recorder. Watches the archive (a folder or a PostgreSQL server) and
// keeps the journal of every ticket, call, wait and absence, without a window.
#include "archive/percorsi_archivio.h"
#include "server/registratore.h"
#include "server/web/server_web.h"

#include <QCommandLineOption>
#include <QCommandLineParser>
#include <QCoreApplication>
#include <QFileInfo>
#include <QSettings>
#include <QSocketNotifier>

#include <csignal>
#include <cstdio>
#include <fcntl.h>
#include <memory>
#include <optional>
#include <unistd.h>

using namespace qvr;

namespace {

int g_pipeSegnali[2] = {-1, -1};

void gestoreSegnale(int numero) {
    const char c = static_cast<char>(numero);
    [[maybe_unused]] const ssize_t n = ::write(g_pipeSegnali[1], &c, 1);
}

const char* const TestoAiuto =
    "Uso: qvr-server [--archivio CARTELLA|URI] [--impostazioni FILE] [--ascolta INDIRIZZO:PORTA]\n"
    "\n"
    "Il registratore dell'ufficio: osserva l'archivio e scrive nel registro (Registro.mdb\n"
    "nella cartella, o lo schema registro nel database dell'ufficio su un server PostgreSQL)\n"
    "ogni biglietto emesso, ogni chiamata, ogni attesa e assenza delle postazioni, i propri\n"
    "avvii e arresti e i periodi in cui l'archivio non era leggibile.\n"
    "Un solo registratore per archivio: un secondo attende e subentra quando il primo termina.\n"
    "\n"
    "Opzioni:\n"
    "  --archivio CARTELLA|URI   La cartella dell'archivio o l'indirizzo postgresql://\n"
    "                            del server (prevale sulle impostazioni).\n"
    "  --impostazioni FILE       Il file delle impostazioni (predefinito\n"
    "                            /etc/qvr/qvr-server.ini, chiave Archivio).\n"
    "  --ascolta INDIRIZZO:PORTA Dove servire le pagine web (il tabellone /tabellone, i dati\n"
    "                            /api/stato e /api/eventi): predefinito :8080, ogni\n"
    "                            indirizzo IPv4; [::]:8080 anche IPv6; \"no\" nessuna\n"
    "                            pagina. Prevale sulla chiave Web/Ascolta delle impostazioni.\n"
    "  -h, --help                Mostra questo aiuto.\n"
    "  -v, --version             Mostra la versione.\n"
    "\n"
    "Termina con SIGTERM o SIGINT, registrando l'arresto.\n"
    "Uscita: 0 dopo un arresto regolare, 2 uso errato o impostazioni mancanti.\n";

// The archive named by the settings file (its key Archivio); nothing, with the reason logged,
// when the file or the key is missing or the file cannot be read.
std::optional<QString> archivioDalleImpostazioni(const QString& file) {
    if (!QFileInfo(file).isFile()) {
        server::scriviLog(3, QStringLiteral("File delle impostazioni %1 non trovato (Errore 53: "
                                            "File non trovato) e nessun --archivio.")
                                 .arg(file));
        return std::nullopt;
    }
    QSettings s(file, QSettings::IniFormat);
    if (s.status() != QSettings::NoError) {
        server::scriviLog(3, QStringLiteral("File delle impostazioni %1 illeggibile o "
                                            "malformato.")
                                 .arg(file));
        return std::nullopt;
    }
    const QString cartella = s.value(QStringLiteral("Archivio")).toString().trimmed();
    if (cartella.isEmpty()) {
        server::scriviLog(3, QStringLiteral("Nessuna cartella dell'archivio: impostare "
                                            "Archivio= in %1 o usare --archivio.")
                                 .arg(file));
        return std::nullopt;
    }
    return cartella;
}

// SIGTERM and SIGINT reach the event loop through a pipe; a closed peer is no signal.
bool preparaSegnali() {
    if (::pipe2(g_pipeSegnali, O_CLOEXEC | O_NONBLOCK) != 0) {
        server::scriviLog(3, QStringLiteral("Impossibile preparare i segnali."));
        return false;
    }
    struct sigaction sa {};
    sa.sa_handler = gestoreSegnale;
    sigemptyset(&sa.sa_mask);
    sa.sa_flags = SA_RESTART;
    sigaction(SIGTERM, &sa, nullptr);
    sigaction(SIGINT, &sa, nullptr);
    std::signal(SIGPIPE, SIG_IGN);
    return true;
}

// Starts the web pages on `dove` (INDIRIZZO:PORTA) with the limits of the settings `file`. False
// for an address that is none; a port that cannot be taken is logged and recording goes on.
bool avviaPagine(const QString& dove, const QString& file, const QString& cartella,
                 web::Quadro& quadro, std::unique_ptr<web::ServerWeb>& pagine) {
    const auto a = web::leggiAscolta(dove);
    if (!a) {
        server::scriviLog(3, QStringLiteral("Indirizzo delle pagine web non valido: %1 "
                                            "(atteso INDIRIZZO:PORTA, es. :8080).")
                                 .arg(dove));
        return false;
    }
    if (const auto e = quadro.carica(cartella))
        server::scriviLog(6, QStringLiteral("Pagine web senza gli eventi precedenti: %1").arg(*e));
    web::OpzioniWeb o;
    o.indirizzo = a->first;
    o.porta = a->second;
    if (QFileInfo(file).isFile())
        web::leggiServizi(file, o);
    if (QFileInfo(file).isFile())
        for (const QString& k : web::leggiLimiti(file, o))
            server::scriviLog(4, QStringLiteral("Impostazione %1 non valida in %2: resta "
                                                "il valore predefinito.")
                                     .arg(k, file));
    pagine = std::make_unique<web::ServerWeb>(cartella, quadro, o);
    if (const auto e = pagine->avvia()) {
        server::scriviLog(3, QStringLiteral("%1: pagine web non disponibili, la "
                                            "registrazione continua.")
                                 .arg(*e));
        pagine.reset();
    } else {
        server::scriviLog(6, QStringLiteral("Pagine web su http://%1:%2/tabellone")
                                 .arg(o.indirizzo)
                                 .arg(pagine->porta()));
    }
    return true;
}

} // namespace

int main(int argc, char* argv[]) {
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("qvr-server"));
    QCoreApplication::setApplicationVersion(QStringLiteral(QVR_VERSIONE));

    QCommandLineParser p;
    const QCommandLineOption aiuto({QStringLiteral("h"), QStringLiteral("help")}, QString());
    const QCommandLineOption versione({QStringLiteral("v"), QStringLiteral("version")}, QString());
    const QCommandLineOption archivio(QStringLiteral("archivio"), QString(),
                                      QStringLiteral("cartella"));
    const QCommandLineOption impostazioni(QStringLiteral("impostazioni"), QString(),
                                          QStringLiteral("file"));
    const QCommandLineOption ascolta(QStringLiteral("ascolta"), QString(),
                                     QStringLiteral("indirizzo:porta"));
    p.addOptions({aiuto, versione, archivio, impostazioni, ascolta});
    if (!p.parse(app.arguments())) {
        std::fprintf(stderr, "qvr-server: %s\nPer l'aiuto: qvr-server --help\n",
                     p.errorText().toLocal8Bit().constData());
        return 2;
    }
    if (p.isSet(aiuto)) {
        std::fputs(TestoAiuto, stdout);
        return 0;
    }
    if (p.isSet(versione)) {
        std::printf("qvr-server %s\n", QVR_VERSIONE);
        return 0;
    }
    if (!p.positionalArguments().isEmpty()) {
        std::fprintf(stderr, "qvr-server: argomento inatteso: %s\nPer l'aiuto: qvr-server --help\n",
                     p.positionalArguments().first().toLocal8Bit().constData());
        return 2;
    }

    const QString file =
        p.isSet(impostazioni) ? p.value(impostazioni) : QStringLiteral("/etc/qvr/qvr-server.ini");
    QString cartella = p.value(archivio);
    if (cartella.isEmpty()) {
        const std::optional<QString> letta = archivioDalleImpostazioni(file);
        if (!letta)
            return 2;
        cartella = *letta;
    }
    if (!preparaSegnali())
        return 1;

    server::Registratore r(cartella);

    // The web pages: their own threads, fed with the events the recorder has written.
    web::Quadro quadro;
    std::unique_ptr<web::ServerWeb> pagine;
    QString dove = p.value(ascolta).trimmed();
    if (dove.isEmpty() && QFileInfo(file).isFile())
        dove = QSettings(file, QSettings::IniFormat)
                   .value(QStringLiteral("Web/Ascolta"))
                   .toString()
                   .trimmed();
    if (dove.isEmpty())
        dove = QStringLiteral(":8080");
    if (dove != QStringLiteral("no")) {
        if (!avviaPagine(dove, file, cartella, quadro, pagine))
            return 2;
        QObject::connect(&r, &server::Registratore::eventiScritti, &app,
                         [&quadro](const std::vector<registro::Evento>& v) { quadro.aggiungi(v); });
    }
    QSocketNotifier notifica(g_pipeSegnali[0], QSocketNotifier::Read);
    QObject::connect(&notifica, &QSocketNotifier::activated, &app, [&] {
        char c = 0;
        while (::read(g_pipeSegnali[0], &c, 1) > 0) {
        }
        server::scriviLog(6, QStringLiteral("Segnale di arresto ricevuto."));
        r.ferma();
        app.quit();
    });
    r.avvia();
    return app.exec();
}
