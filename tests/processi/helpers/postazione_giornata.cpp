// A whole client at a desk, driven through its own windows by commands on stdin, for the
// day-at-the-office test:
//
//   postazione_giornata <workdir>
//
// Starts in <workdir> (which holds percorsi.txt) exactly as the client does: the launcher is
// loaded and shown, its "Avvia Client" is pressed with the kiosk box as the launcher found it,
// the console loads and is shown. Then one command per line; after each, once the console is
// idle again, one line "ok <Label1(1)> <Label1(2)> <Label5>" (the texts with spaces as '_'):
//
//   avanti | attendere | precedente | azzera     the call, wait, previous-number and reset
//   scelto N                                     manual mode, N typed in the field, Enter,
//                                                back to automatic mode
//   imposta N                                    "Imposta numero", N typed, "Con&ferma"
//   chiudi-azzera | chiudi-mantieni              closes the console answering the closing
//                                                question "&Conferma" or "C&hiudi"
//
// Message boxes (the wait in single numbering says it is not available) are answered with
// their default button. The program ends by the client's own ending (status 0, or 1 after a
// reported failure).

#include "app/avvio.h"
#include "app/gestione.h"
#include "app/globali.h"
#include "console/form1.h"
#include "dialogs/boxinputta.h"
#include "dialogs/campo_numero.h"
#include "dialogs/messaggi.h"
#include "launcher/apertura.h"

#include <QAbstractButton>
#include <QAction>
#include <QApplication>
#include <QDir>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSocketNotifier>
#include <QTest>
#include <QTimer>

#include <cstdio>
#include <memory>
#include <unistd.h>

using namespace qvr;

namespace {

// Acts on the next modal window that opens: `azione` receives it.
void allaProssimaModale(std::function<void(QWidget*)> azione, int tentativi = 500) {
    QTimer::singleShot(10, [azione = std::move(azione), tentativi]() mutable {
        if (QWidget* modale = QApplication::activeModalWidget()) {
            azione(modale);
            return;
        }
        if (tentativi > 0)
            allaProssimaModale(std::move(azione), tentativi - 1);
        else
            std::fprintf(stderr, "nessuna finestra modale\n");
    });
}

void premi(QWidget* finestra, const QString& nome) {
    if (auto* b = finestra->findChild<QAbstractButton*>(nome))
        b->click();
    else
        std::fprintf(stderr, "pulsante %s mancante\n", qPrintable(nome));
}

QString senzaSpazi(QString testo) {
    return testo.isEmpty() ? QStringLiteral("-") : testo.replace(' ', '_');
}

} // namespace

int main(int argc, char* argv[]) {
    QApplication app(argc, argv);
    impostaApplicazione(app);
    if (argc != 2 || !QDir::setCurrent(QString::fromLocal8Bit(argv[1]))) {
        std::fprintf(stderr, "uso: postazione_giornata <cartella di lavoro>\n");
        return 2;
    }
    messaggi::impostaRispostaAutomatica(true);

    Apertura apertura;
    std::unique_ptr<Form1> console;
    QObject::connect(&apertura, &Apertura::avviaClientRichiesto, [&console] {
        console = std::make_unique<Form1>();
        if (eseguiGestito([&console] { console->Carica(); }))
            console->show();
    });
    if (!apriPrimaFinestra(apertura))
        return 1;
    premi(&apertura, QStringLiteral("PB1_2")); // "Avvia Client"
    if (!console) {
        std::fprintf(stderr, "console non aperta\n");
        return 1;
    }

    auto rispondi = [&console] {
        std::printf("ok %s %s %s\n", qPrintable(senzaSpazi(console->Label1(1)->text())),
                    qPrintable(senzaSpazi(console->Label1(2)->text())),
                    qPrintable(senzaSpazi(console->Label5()->text())));
        std::fflush(stdout);
    };
    QByteArray ricevuto;
    QSocketNotifier lettore(STDIN_FILENO, QSocketNotifier::Read);
    QObject::connect(&lettore, &QSocketNotifier::activated, [&] {
        char blocco[256];
        const ssize_t letti = ::read(STDIN_FILENO, blocco, sizeof blocco);
        if (letti <= 0) { // the test went away: end as a close without reset would
            lettore.setEnabled(false);
            if (!ModoSingolo)
                allaProssimaModale([](QWidget* m) { premi(m, QStringLiteral("PB1_0")); });
            console->close();
            return;
        }
        ricevuto.append(blocco, static_cast<int>(letti));
        int fine;
        while ((fine = ricevuto.indexOf('\n')) >= 0) {
            const QStringList parti =
                QString::fromUtf8(ricevuto.left(fine)).split(' ', Qt::SkipEmptyParts);
            ricevuto.remove(0, fine + 1);
            const QString comando = parti.value(0);
            const QString numero = parti.value(1);
            if (comando == QStringLiteral("avanti")) {
                console->Command1(0)->click();
            } else if (comando == QStringLiteral("attendere")) {
                console->Command1(1)->click();
            } else if (comando == QStringLiteral("precedente")) {
                console->AK(1)->trigger();
            } else if (comando == QStringLiteral("azzera")) {
                console->AK(2)->trigger();
            } else if (comando == QStringLiteral("scelto")) {
                console->AK(5)->trigger();
                console->f()->setFocus();
                console->f()->selectAll();
                QTest::keyClicks(console->f(), numero);
                QTest::keyClick(console->f(), Qt::Key_Return);
                console->AK(6)->trigger();
            } else if (comando == QStringLiteral("imposta")) {
                allaProssimaModale([numero](QWidget* m) {
                    auto* richiesta = qobject_cast<boxinputta*>(m);
                    if (!richiesta) {
                        m->close();
                        return;
                    }
                    richiesta->f()->setFocus();
                    richiesta->f()->selectAll();
                    QTest::keyClicks(richiesta->f(), numero);
                    premi(richiesta, QStringLiteral("Command1_0")); // "Con&ferma"
                });
                console->AK(3)->trigger();
            } else if (comando == QStringLiteral("chiudi-azzera") ||
                       comando == QStringLiteral("chiudi-mantieni")) {
                const QString pulsante = comando == QStringLiteral("chiudi-azzera")
                                             ? QStringLiteral("PB1_1")
                                             : QStringLiteral("PB1_0");
                if (!ModoSingolo)
                    allaProssimaModale([pulsante](QWidget* m) { premi(m, pulsante); });
                console->close(); // ends the program
                continue;
            } else {
                std::fprintf(stderr, "comando sconosciuto: %s\n", qPrintable(comando));
            }
            rispondi();
        }
    });
    std::printf("pronto\n");
    rispondi();
    return app.exec();
}
