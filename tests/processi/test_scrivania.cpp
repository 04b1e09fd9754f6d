// The client's windows at a real desk: an X server with a window manager (openbox, started by
// scripts/servizi/finestre.sh, or here when none runs), real key and mouse events on the focused
// widget, another application to switch to (xmessage, activated with xdotool), and Qt's own
// folder chooser driven with the keyboard.

#include "console_comune.h"

#include "dialogs/campo_numero.h"
#include "dialogs/msgform.h"
#include "launcher/apertura.h"
#include "launcher/imporete.h"

#include <QCheckBox>
#include <QClipboard>
#include <QDir>
#include <QFileDialog>
#include <QLineEdit>
#include <QMessageBox>
#include <QMimeData>
#include <QProcess>
#include <QPushButton>
#include <QScreen>
#include <QSignalSpy>
#include <QWindow>

#include <QtGui/qguiapplication_platform.h>

#include <xcb/xcb.h>

#include <cstdio>
#include <cstdlib>
#include <functional>

using namespace qvr;
using namespace qvr::test;

namespace {

// How long the window manager may take to activate a window: long for a loaded machine (the
// suite runs under the sanitizers too); a wait ends as soon as the window is active.
constexpr int AttesaFinestra = 15000;

bool gestorePresente() {
    QProcess xprop;
    xprop.start(QStringLiteral("xprop"),
                {QStringLiteral("-root"), QStringLiteral("_NET_SUPPORTING_WM_CHECK")});
    xprop.waitForFinished(5000);
    return xprop.readAllStandardOutput().contains("window id");
}

bool xdotool(const QStringList& argomenti, QByteArray* uscita = nullptr) {
    QProcess p;
    p.start(QStringLiteral("xdotool"), argomenti);
    if (!p.waitForFinished(10000) || p.exitCode() != 0)
        return false;
    if (uscita)
        *uscita = p.readAllStandardOutput().trimmed();
    return true;
}

// Another application on the desk, to switch to and back.
class AltraApplicazione {
public:
    AltraApplicazione() {
        m_processo.start(QStringLiteral("xmessage"),
                         {QStringLiteral("-title"), QStringLiteral("altra-applicazione"),
                          QStringLiteral("-geometry"), QStringLiteral("+20+20"),
                          QStringLiteral("Un'altra applicazione")});
        xdotool({QStringLiteral("search"), QStringLiteral("--sync"), QStringLiteral("--name"),
                 QStringLiteral("^altra-applicazione$")},
                &m_finestra);
        m_finestra = m_finestra.split('\n').value(0);
    }
    ~AltraApplicazione() {
        m_processo.kill();
        m_processo.waitForFinished(3000);
    }
    // The operator clicks into the other application: the program has no active window.
    bool attiva() {
        return !m_finestra.isEmpty() &&
               xdotool({QStringLiteral("windowactivate"), QStringLiteral("--sync"),
                        QString::fromLatin1(m_finestra)}) &&
               QTest::qWaitFor([] { return QApplication::activeWindow() == nullptr; },
                               AttesaFinestra);
    }

private:
    QProcess m_processo;
    QByteArray m_finestra;
};

// The operator comes back to `finestra` through the window manager.
bool torna(QWidget* finestra) {
    return xdotool({QStringLiteral("windowactivate"), QStringLiteral("--sync"),
                    QString::number(finestra->winId())}) &&
           QTest::qWaitForWindowActive(finestra, AttesaFinestra);
}

// A close request as the window manager's close button sends it: _NET_CLOSE_WINDOW to the root
// window, which openbox turns into WM_DELETE_WINDOW for the window.
bool chiediChiusura(QWidget* finestra) {
    auto* x11 = qApp->nativeInterface<QNativeInterface::QX11Application>();
    xcb_connection_t* connessione = x11 ? x11->connection() : nullptr;
    if (!connessione)
        return false;
    const QByteArray nome("_NET_CLOSE_WINDOW");
    xcb_intern_atom_reply_t* atomo = xcb_intern_atom_reply(
        connessione, xcb_intern_atom(connessione, 0, quint16(nome.size()), nome.constData()),
        nullptr);
    if (!atomo)
        return false;
    xcb_client_message_event_t evento{};
    evento.response_type = XCB_CLIENT_MESSAGE;
    evento.format = 32;
    evento.window = xcb_window_t(finestra->winId());
    evento.type = atomo->atom;
    evento.data.data32[0] = XCB_CURRENT_TIME;
    evento.data.data32[1] = 2; // from a pager or a task bar: the window manager obeys at once
    free(atomo);
    const xcb_window_t radice = xcb_setup_roots_iterator(xcb_get_setup(connessione)).data->root;
    xcb_send_event(connessione, 0, radice,
                   XCB_EVENT_MASK_SUBSTRUCTURE_REDIRECT | XCB_EVENT_MASK_SUBSTRUCTURE_NOTIFY,
                   reinterpret_cast<const char*>(&evento));
    xcb_flush(connessione);
    return true;
}

// Runs `azione` on the next modal window of type T once it is shown and active.
template <typename T> void quandoAppare(std::function<void(T*)> azione, int tentativi = 500) {
    QTimer::singleShot(10, [=] {
        auto* modale = qobject_cast<T*>(QApplication::activeModalWidget());
        if (!modale || !modale->isActiveWindow()) {
            if (tentativi > 0)
                quandoAppare<T>(azione, tentativi - 1);
            return;
        }
        azione(modale);
    });
}

void premi(int tasto, Qt::KeyboardModifiers modificatori = Qt::NoModifier) {
    // A window just shown or just made active gets its focus widget a moment later (the
    // window manager's answer comes first), more so on a loaded machine.
    if (!QTest::qWaitFor([] { return QApplication::focusWidget() != nullptr; }, AttesaFinestra)) {
        QByteArray attivaX;
        xdotool({QStringLiteral("getactivewindow"), QStringLiteral("getwindowname")}, &attivaX);
        const auto classe = [](const QObject* o) {
            return o ? QString::fromLatin1(o->metaObject()->className()) : QStringLiteral("-");
        };
        const QWindow* fuocoQt = QGuiApplication::focusWindow();
        QFAIL(qPrintable(
            QStringLiteral("nessun widget col fuoco; X: '%1', Qt: %2 / %3, modale: %4, popup: %5")
                .arg(QString::fromUtf8(attivaX), classe(QApplication::activeWindow()),
                     fuocoQt ? fuocoQt->title() : QStringLiteral("-"),
                     classe(QApplication::activeModalWidget()),
                     classe(QApplication::activePopupWidget()))));
    }
    QTest::keyClick(QApplication::focusWidget(), static_cast<Qt::Key>(tasto), modificatori);
}

// The widgets Tab reaches from the focus, in a round of `passi` presses.
QSet<QWidget*> giroDiTab(int passi) {
    QSet<QWidget*> raggiunti;
    for (int i = 0; i < passi; ++i) {
        premi(Qt::Key_Tab);
        raggiunti.insert(QApplication::focusWidget());
    }
    return raggiunti;
}

} // namespace

class TestScrivania : public QObject {
    Q_OBJECT

    QProcess m_gestore;

private slots:
    void initTestCase() {
        QCOMPARE(QGuiApplication::platformName(), QStringLiteral("xcb"));
        // Run outside scripts/test.sh: a window manager of our own for this program.
        if (!gestorePresente()) {
            m_gestore.start(QStringLiteral("openbox"), {QStringLiteral("--sm-disable")});
            QVERIFY(QTest::qWaitFor(gestorePresente, 10000));
        }
    }
    void cleanupTestCase() {
        if (m_gestore.state() != QProcess::NotRunning) {
            m_gestore.terminate();
            m_gestore.waitForFinished(3000);
        }
    }
    void init() {
        azzeraValoriGlobali();
        ImpoRete::azzeraMemoria();
        messaggi::azzeraRegistro();
    }

    void cartellaSceltaRestaFinoAlSalvataggio() {
        // The settings file names a folder out of reach; the operator chooses the real archive.
        AmbienteProva ambiente({}, false);
        scriviFile(QStringLiteral("percorsi.txt"), "\"/non/raggiungibile\",3\r\n");
        const QString scelta = ambiente.cartella() + QStringLiteral("/archivio-vero");
        QVERIFY(QDir().mkdir(scelta));
        AltraApplicazione altra;

        ImpoRete w;
        w.show();
        QVERIFY(QTest::qWaitForWindowActive(&w, AttesaFinestra));
        QCOMPARE(w.txtshortcutdir()->text(), QStringLiteral("/non/raggiungibile"));

        // Qt's own folder chooser: the folder typed into its name field, then Enter.
        bool scelto = false;
        quandoAppare<QFileDialog>([&](QFileDialog* dialogo) {
            auto* nome = dialogo->findChild<QLineEdit*>(QStringLiteral("fileNameEdit"));
            QVERIFY(nome);
            nome->setFocus();
            nome->selectAll();
            QTest::keyClicks(nome, scelta);
            QTest::keyClick(nome, Qt::Key_Return);
            scelto = true;
        });
        w.cbt(1)->setFocus();
        premi(Qt::Key_Space);
        QVERIFY(scelto);
        QVERIFY(QTest::qWaitForWindowActive(&w, AttesaFinestra));
        // The name field's completion list was open when the chooser closed: the settings window
        // is active again for its widgets too, with the focus frame on the button.
        QTRY_COMPARE(QApplication::activeWindow(), &w);
        QTRY_VERIFY(w.cbt(1)->hasFocus());
        QTest::qWait(200);
        QCOMPARE(w.txtshortcutdir()->text(), scelta);

        // Away to another application and back: the choice stays.
        QVERIFY(altra.attiva());
        QVERIFY(torna(&w));
        QTest::qWait(200);
        QCOMPARE(w.txtshortcutdir()->text(), scelta);

        // "&Salva" with Enter on the focused button; the confirmation closed with Enter.
        quandoAppare<MsgForm>([](MsgForm*) { premi(Qt::Key_Return); });
        QVERIFY(QTest::qWaitForWindowActive(&w, AttesaFinestra));
        w.cbt(2)->setFocus();
        premi(Qt::Key_Return);
        QVERIFY(w.salvato());
        QCOMPARE(contenuto(QStringLiteral("percorsi.txt")),
                 QByteArray("\"") + scelta.toUtf8() + QByteArray("\",0\r\n"));
    }

    void consoleFermaAlRitornoEInteraSulloSchermo() {
        ConsoleProva c(3);
        Form1& f = *c.form;
        AltraApplicazione altra;
        f.show();
        QVERIFY(QTest::qWaitForWindowActive(&f, AttesaFinestra));
        const QRect area = f.screen()->availableGeometry();
        QTest::mouseClick(f.Label2(), Qt::LeftButton); // the history shown
        QTest::qWait(200);
        const QPoint dove = f.pos();
        QVERIFY(area.contains(f.frameGeometry()));

        // Back from another application: the console stays where it is.
        QVERIFY(altra.attiva());
        QVERIFY(torna(&f));
        QTest::qWait(300);
        QCOMPARE(f.pos(), dove);

        // The message window closes over it: an activation, which keeps it whole on the screen.
        quandoAppare<MsgForm>([](MsgForm*) { premi(Qt::Key_Return); });
        MsgForm sopra(&f);
        sopra.Label2(0)->setText(QStringLiteral("sopra"));
        sopra.exec();
        QVERIFY(QTest::qWaitForWindowActive(&f, AttesaFinestra));
        QTest::qWait(300);
        QVERIFY2(
            area.contains(f.frameGeometry()),
            qPrintable(QStringLiteral("%1 %2").arg(f.frameGeometry().bottom()).arg(area.bottom())));
        QCOMPARE(f.frameGeometry().bottom(), area.bottom());
    }

    void invioPremeIlPulsanteConIlFuoco() {
        // The message window: Tab to "&Conferma", Enter.
        quandoAppare<MsgForm>([](MsgForm* m) {
            for (int i = 0; i < 4 && QApplication::focusWidget() != m->PB1(1); ++i)
                premi(Qt::Key_Tab);
            QCOMPARE(QApplication::focusWidget(), m->PB1(1));
            premi(Qt::Key_Return);
        });
        {
            MsgForm domanda;
            domanda.Label2(0)->setText(QStringLiteral("Domanda"));
            domanda.PB1(1)->setVisible(true);
            domanda.exec();
        }
        QCOMPARE(RispostaMsg, qint16(8));

        // The settings window: Enter on "C&hiudi" closes it, writing nothing.
        {
            AmbienteProva ambiente({}, false);
            ImpoRete w;
            quandoAppare<ImpoRete>([&w](ImpoRete*) {
                w.cbt(0)->setFocus();
                premi(Qt::Key_Return);
            });
            QCOMPARE(w.exec(), int(QDialog::Rejected));
            QVERIFY(!QFile::exists(QStringLiteral("percorsi.txt")));
        }

        // The launcher: Enter on "Avvia Client", and on the kiosk box (the default button);
        // Escape as its close box.
        UscitaIntercettata uscita;
        for (const bool suCasella : {false, true}) {
            Apertura a;
            QSignalSpy avvio(&a, &Apertura::avviaClientRichiesto);
            a.show();
            QVERIFY(QTest::qWaitForWindowActive(&a, AttesaFinestra));
            if (suCasella)
                a.CB3()->setFocus();
            else
                a.PB1(2)->setFocus();
            premi(Qt::Key_Return);
            QCOMPARE(avvio.size(), 1);
        }
        QCOMPARE(uscita.volte(), 0);
        Apertura a;
        a.show();
        QVERIFY(QTest::qWaitForWindowActive(&a, AttesaFinestra));
        a.CB3()->setFocus();
        premi(Qt::Key_Escape);
        QCOMPARE(uscita.volte(), 1);
    }

    // A close request through the window manager right after the console appeared, by its close
    // button (_NET_CLOSE_WINDOW) or by Alt+F4 on the focused window, with the console opened
    // from the launcher as at a desk: the reset question comes every time, and its "C&hiudi"
    // ends the program.
    void chiusuraAppenaComparsa_data() {
        QTest::addColumn<QString>("richiesta");
        QTest::addColumn<int>("ritardo"); // ms after the console is exposed
        for (const QByteArray& richiesta : {QByteArray("pulsante"), QByteArray("alt+F4")})
            for (int ritardo : {0, 100, 500})
                QTest::newRow(richiesta + " dopo " + QByteArray::number(ritardo) + " ms")
                    << QString::fromLatin1(richiesta) << ritardo;
    }
    void chiusuraAppenaComparsa() {
        QFETCH(QString, richiesta);
        QFETCH(int, ritardo);
        const int volte = qEnvironmentVariableIntValue("QVR_RIPETI_CHIUSURA") > 0
                              ? qEnvironmentVariableIntValue("QVR_RIPETI_CHIUSURA")
                              : 1;
        for (int volta = 0; volta < volte; ++volta) {
            ConsoleProva c(3, {}, false);
            Apertura a;
            QObject::connect(&a, &Apertura::avviaClientRichiesto, [&c] {
                if (c.carica())
                    c.form->show();
            });
            a.show();
            QVERIFY(QTest::qWaitForWindowActive(&a, AttesaFinestra));
            a.PB1(2)->setFocus();
            premi(Qt::Key_Return); // "Avvia Client": the launcher closes, the console shows
            Form1& f = *c.form;
            QVERIFY(c.caricato);
            QVERIFY(QTest::qWaitForWindowExposed(&f, AttesaFinestra));
            if (ritardo > 0)
                QTest::qWait(ritardo);

            // The question, answered with "C&hiudi" as soon as it shows (inside its own loop).
            QString domanda;
            auto fine = std::make_shared<bool>(false);
            auto* sonda = new QTimer(&f);
            QObject::connect(sonda, &QTimer::timeout, [&domanda, fine, sonda] {
                auto* m = qobject_cast<MsgForm*>(QApplication::activeModalWidget());
                if (*fine || !m || !m->isVisible())
                    return;
                domanda = m->Label2(0)->text();
                *fine = true;
                sonda->stop();
                m->PB1(0)->click();
            });
            sonda->start(10);
            if (richiesta == QStringLiteral("pulsante"))
                QVERIFY(chiediChiusura(&f));
            else
                QVERIFY(xdotool({QStringLiteral("key"), QStringLiteral("--clearmodifiers"),
                                 QStringLiteral("alt+F4")}));
            const bool vista = QTest::qWaitFor([&] { return *fine; }, AttesaFinestra);
            *fine = true;
            QVERIFY2(vista, qPrintable(QStringLiteral("volta %1: nessuna domanda; attiva: %2, "
                                                      "visibile: %3")
                                           .arg(volta + 1)
                                           .arg(f.isActiveWindow())
                                           .arg(f.isVisible())));
            QCOMPARE(domanda, QStringLiteral("Intendi azzerare il numero uscendo ?"));
            QCOMPARE(RispostaMsg, qint16(7));
            QTRY_COMPARE(c.uscita.volte(), 1);
        }
    }

    void tabSoloSuCioCheSiVede() {
        ConsoleProva c(3);
        Form1& f = *c.form;
        f.show();
        QVERIFY(QTest::qWaitForWindowActive(&f, AttesaFinestra));
        f.AK(5)->trigger(); // manual mode: GB1 covers the call buttons
        QTRY_COMPARE(QApplication::focusWidget(), static_cast<QWidget*>(f.f()));
        const QSet<QWidget*> coperta = giroDiTab(12);
        QVERIFY(coperta.contains(f.SelNum()));
        QVERIFY(!coperta.contains(f.Command1(0)));
        QVERIFY(!coperta.contains(f.Command1(1)));
        QVERIFY(f.Command1(0)->isEnabled() && f.Command1(1)->isEnabled());
        f.AK(6)->trigger();
        const QSet<QWidget*> scoperta = giroDiTab(12);
        QVERIFY(scoperta.contains(f.Command1(0)));
        QVERIFY(scoperta.contains(f.Command1(1)));
    }

    void incollaTuttoONiente_data() {
        QTest::addColumn<QString>("modo");
        QTest::addColumn<QString>("testo");
        QTest::addColumn<QString>("atteso");
        const QString lungo = QStringLiteral("1234567890123");
        QTest::newRow("Ctrl+V troppo lungo") << "ctrl+v" << lungo << "000";
        QTest::newRow("Shift+Ins troppo lungo") << "shift+ins" << lungo << "000";
        QTest::newRow("clic centrale troppo lungo") << "centrale" << lungo << "000";
        QTest::newRow("trascinato troppo lungo") << "trascina" << lungo << "000";
        QTest::newRow("trascinato con lettere") << "trascina"
                                                << "12a"
                                                << "000";
        QTest::newRow("Ctrl+V nove cifre") << "ctrl+v"
                                           << "123456789"
                                           << "123456789";
    }
    void incollaTuttoONiente() {
        QFETCH(QString, modo);
        QFETCH(QString, testo);
        QFETCH(QString, atteso);
        QWidget finestra;
        auto* campo = new CampoNumero(QStringLiteral("000"), &finestra);
        finestra.show();
        QVERIFY(QTest::qWaitForWindowActive(&finestra, AttesaFinestra));
        campo->setFocus(); // clears the clipboard and selects the whole text
        QTRY_VERIFY(campo->hasFocus());
        QClipboard* appunti = QGuiApplication::clipboard();
        if (modo == QStringLiteral("ctrl+v")) {
            appunti->setText(testo);
            premi(Qt::Key_V, Qt::ControlModifier);
        } else if (modo == QStringLiteral("shift+ins")) {
            appunti->setText(testo);
            premi(Qt::Key_Insert, Qt::ShiftModifier);
        } else if (modo == QStringLiteral("centrale")) {
            QVERIFY(appunti->supportsSelection());
            appunti->setText(testo, QClipboard::Selection);
            QTest::mouseClick(campo, Qt::MiddleButton, {}, campo->rect().center());
        } else {
            QMimeData dati;
            dati.setText(testo);
            const QPointF punto = campo->rect().center();
            QDragEnterEvent entra(punto.toPoint(), Qt::CopyAction, &dati, Qt::LeftButton, {});
            QApplication::sendEvent(campo, &entra);
            QDropEvent lascia(punto, Qt::CopyAction, &dati, Qt::LeftButton, {});
            QApplication::sendEvent(campo, &lascia);
        }
        QCOMPARE(campo->text(), atteso);
    }

    void messaggioSopraLaFinestraVisibile() {
        // The operator works in another application when a report comes.
        AltraApplicazione altra;
        QWidget finestra;
        finestra.setWindowTitle(QStringLiteral("Console di prova"));
        finestra.resize(300, 150);
        finestra.show();
        QVERIFY(QTest::qWaitForWindowActive(&finestra, AttesaFinestra));
        const QRect area = finestra.screen()->availableGeometry();
        finestra.move(area.right() - 320, area.bottom() - 200);
        QTest::qWait(200);
        QVERIFY(altra.attiva());

        QWidget* genitore = nullptr;
        QRect dove;
        QObject contesto; // ends the looking with this block
        std::function<void(int)> cerca = [&](int tentativi) {
            QTimer::singleShot(10, &contesto, [&, tentativi] {
                for (QWidget* w : QApplication::topLevelWidgets()) {
                    auto* box = qobject_cast<QMessageBox*>(w);
                    if (box && box->isVisible() && QTest::qWaitForWindowExposed(box)) {
                        QTest::qWait(100);
                        genitore = box->parentWidget();
                        dove = box->frameGeometry();
                        box->button(QMessageBox::Ok)->click();
                        return;
                    }
                }
                if (tentativi > 0)
                    cerca(tentativi - 1);
            });
        };
        cerca(500);
        messaggi::mostra(nullptr, messaggi::Icona::Critica, QStringLiteral("QVR"),
                         QStringLiteral("Errore n. 3044\nPercorso non valido"));
        QCOMPARE(genitore, &finestra);
        QVERIFY2(dove.intersects(finestra.frameGeometry()),
                 qPrintable(QStringLiteral("%1,%2").arg(dove.x()).arg(dove.y())));
    }
};

int main(int argc, char* argv[]) {
    if (qEnvironmentVariableIsEmpty("DISPLAY")) {
        std::fprintf(stderr, "test_scrivania: serve un server X (DISPLAY), p.es. xvfb-run\n");
        return 1;
    }
    // A real X display, whatever the test runner set; Qt's own file dialogs.
    qputenv("QT_QPA_PLATFORM", "xcb");
    QApplication::setAttribute(Qt::AA_DontUseNativeDialogs);
    QApplication applicazione(argc, argv);
    TestScrivania prova;
    return QTest::qExec(&prova, argc, argv);
}

#include "test_scrivania.moc"
