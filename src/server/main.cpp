// qvr-server: the office's recorder. Watches the archive (a folder or a PostgreSQL server) and
// keeps the journal of every ticket, call, wait and absence, without a window.
#include "archive/percorsi_archivio.h"
#include "server/registratore.h"

#include <QCommandLineOption>
#include <QCommandLineParser>
#include <QCoreApplication>
#include <QFileInfo>
#include <QSettings>
#include <QSocketNotifier>

#include <csignal>
#include <cstdio>
#include <fcntl.h>
#include <unistd.h>

using namespace qvr;

namespace {

int g_pipeSegnali[2] = {-1, -1};

void gestoreSegnale(int numero) {
    const char c = static_cast<char>(numero);
    [[maybe_unused]] const ssize_t n = ::write(g_pipeSegnali[1], &c, 1);
}

const char* const TestoAiuto =
    "Uso: qvr-server [--archivio CARTELLA|URI] [--impostazioni FILE]\n"
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
    "  -h, --help                Mostra questo aiuto.\n"
    "  -v, --version             Mostra la versione.\n"
    "\n"
    "Termina con SIGTERM o SIGINT, registrando l'arresto.\n"
    "Uscita: 0 dopo un arresto regolare, 2 uso errato o impostazioni mancanti.\n";

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
    p.addOptions({aiuto, versione, archivio, impostazioni});
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

    QString cartella = p.value(archivio);
    if (cartella.isEmpty()) {
        const QString file = p.isSet(impostazioni) ? p.value(impostazioni)
                                                   : QStringLiteral("/etc/qvr/qvr-server.ini");
        if (!QFileInfo(file).isFile()) {
            server::scriviLog(3,
                              QStringLiteral("File delle impostazioni %1 non trovato (Errore 53: "
                                             "File non trovato) e nessun --archivio.")
                                  .arg(file));
            return 2;
        }
        QSettings s(file, QSettings::IniFormat);
        if (s.status() != QSettings::NoError) {
            server::scriviLog(3, QStringLiteral("File delle impostazioni %1 illeggibile o "
                                                "malformato.")
                                     .arg(file));
            return 2;
        }
        cartella = s.value(QStringLiteral("Archivio")).toString().trimmed();
        if (cartella.isEmpty()) {
            server::scriviLog(3, QStringLiteral("Nessuna cartella dell'archivio: impostare "
                                                "Archivio= in %1 o usare --archivio.")
                                     .arg(file));
            return 2;
        }
    }
    if (::pipe2(g_pipeSegnali, O_CLOEXEC | O_NONBLOCK) != 0) {
        server::scriviLog(3, QStringLiteral("Impossibile preparare i segnali."));
        return 1;
    }
    struct sigaction sa {};
    sa.sa_handler = gestoreSegnale;
    sigemptyset(&sa.sa_mask);
    sa.sa_flags = SA_RESTART;
    sigaction(SIGTERM, &sa, nullptr);
    sigaction(SIGINT, &sa, nullptr);
    std::signal(SIGPIPE, SIG_IGN);

    server::Registratore r(cartella);
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
