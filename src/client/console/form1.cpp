#include "console/form1.h"

#include "app/attivazione.h"
#include "app/gestione.h"
#include "app/globali.h"
#include "app/twips.h"
#include "archive/contatore.h"
#include "archive/cursore.h"
#include "archive/errori.h"
#include "archive/nomi.h"
#include "archive/percorsi_archivio.h"
#include "console/display.h"
#include "console/operazioni.h"
#include "dialogs/boxinputta.h"
#include "dialogs/campo_numero.h"
#include "dialogs/messaggi.h"
#include "dialogs/msgform.h"
#include "dialogs/primo_piano.h"
#include "launcher/apertura.h"
#include "launcher/percorsi.h"

#include <QAction>
#include <QApplication>
#include <QCloseEvent>
#include <QDir>
#include <QGroupBox>
#include <QHeaderView>
#include <QLabel>
#include <QMenu>
#include <QMenuBar>
#include <QPainter>
#include <QPushButton>
#include <QScreen>
#include <QSessionManager>
#include <QShowEvent>
#include <QTimer>
#include <QTreeWidget>

namespace qvr {

namespace {

const QString TestoCopiaInEsecuzione =
    QStringLiteral("QVR-Modulo Client  risulta già in esecuzione sulla macchina !");
const QString TestoCronologia = QStringLiteral("Cronologia chiamate");
const QString TestoChiudiCronologia = QStringLiteral("Chiudi Cronologia chiamate");
const QString TestoAttesaSingola =
    QStringLiteral("Funzione non abilitata con numerazione singola !");
const QString TestoDomandaChiusura = QStringLiteral("Intendi azzerare il numero uscendo ?");
const QString SuggerimentoCoda = QStringLiteral("Persone in Coda per il servizio");
// The history columns as designed, in twips; each grows to its content.
constexpr int LarghezzeColonne[3] = {1000, 900, 1535};

// The station's number: a long number is drawn in a smaller type rather than cut off.
class EtichettaNumero : public QLabel {
public:
    using QLabel::QLabel;

protected:
    void paintEvent(QPaintEvent* evento) override {
        const QRect area = contentsRect();
        QFont font = this->font();
        while (font.pixelSize() > 8 &&
               QFontMetrics(font).horizontalAdvance(text()) > area.width() - 2)
            font.setPixelSize(font.pixelSize() - 1);
        if (font == this->font()) {
            QLabel::paintEvent(evento);
            return;
        }
        QPainter p(this);
        p.setFont(font);
        p.setPen(palette().color(foregroundRole()));
        p.drawText(area, static_cast<int>(alignment()), text());
    }
};

// A row of the history list: the number and elapsed columns sort as numbers.
class VoceCronologia : public QTreeWidgetItem {
public:
    using QTreeWidgetItem::QTreeWidgetItem;
    bool operator<(const QTreeWidgetItem& altra) const override {
        const int colonna = treeWidget() ? treeWidget()->sortColumn() : 0;
        if (colonna == 0 || colonna == 2) {
            bool ok1 = false, ok2 = false;
            const qint64 a = text(colonna).toLongLong(&ok1);
            const qint64 b = altra.text(colonna).toLongLong(&ok2);
            if (ok1 && ok2)
                return a < b;
        }
        return text(colonna) < altra.text(colonna);
    }
};

void posiziona(QWidget* w, int sinistra, int alto, int larghezza, int altezza) {
    w->setGeometry(twipsX(sinistra), twipsY(alto), twipsX(larghezza), twipsY(altezza));
}

QFont carattere(int twipsAltezza, bool grassetto) {
    QFont font = QApplication::font();
    font.setPixelSize(qMax(8, twipsY(twipsAltezza)));
    font.setBold(grassetto);
    return font;
}

// Visible as far as the window is concerned (also while the window itself is not shown).
bool visibile(const QWidget* w) {
    return !w->isHidden();
}

// The station text of the settings file taken as a number (load step 6).
int stazioneComeNumero(const QString& testo) {
    bool ok = false;
    const int n = testo.trimmed().toInt(&ok);
    if (!ok)
        throw ErroreQvr(Err::TipoNonCorrispondente,
                        QStringLiteral("Postazione \"%1\" in %2").arg(testo, NomeFilePercorsi));
    return n;
}

} // namespace

Form1::Form1(QWidget* parent) : QMainWindow(parent) {
    setObjectName(QStringLiteral("Form1"));
    setWindowTitle(VersioneCaption);
    creaControlli();
    impostaAltezzaClient(AltezzaClientRidotta);
    // Placed at its first showing and when a window of the program opened over it closes; not
    // when the operator comes back from another application.
    connect(new Attivazione(this), &Attivazione::attivata, this,
            [this] { eseguiGestito([this] { colloca(); }); });

    // The wait's text is longer than the state label: shown over the column's lower part (the
    // mode, wrap and kiosk labels and the history link), which takes no input meanwhile.
    m_attesa = std::make_unique<AttesaArchivio>(
        m_label1[2], QRect(twipsX(1740), twipsY(825), twipsX(2265), twipsY(510)));
    // The desktop session ends: nobody is left to answer a question, so the console ends as a
    // close without reset (the history is on disk line by line and gets closed).
    connect(qApp, &QGuiApplication::commitDataRequest, this,
            [](QSessionManager&) { chiudiProgramma(0); });
}

Form1::~Form1() {
    if (m_idChiusuraCopia)
        rimuoviChiusura(m_idChiusuraCopia);
}

void Form1::creaControlli() {
    m_client = new QWidget(this);
    m_client->setObjectName(QStringLiteral("client"));
    setCentralWidget(m_client);

    creaMenu();
    creaPulsanti();
    creaPannelloManuale();
    creaEtichette();
    creaCronologia();
}

void Form1::creaMenu() {
    // Menu "Selezione funzioni".
    m_s1 = menuBar()->addMenu(QStringLiteral("Selezione funzioni"));
    m_s1->setObjectName(QStringLiteral("s1"));
    const QStringList voci = {
        QStringLiteral("Numero precedente"), QStringLiteral("Azzera numeri"),
        QStringLiteral("Imposta numero"),    QStringLiteral("-"),
        QStringLiteral("Modalità manuale"),  QStringLiteral("Modalità automatica")};
    for (int i = 0; i < 6; ++i) {
        QAction* voce = i == 3 ? m_s1->addSeparator() : m_s1->addAction(voci[i]);
        voce->setObjectName(QStringLiteral("AK%1").arg(i + 1));
        m_ak[i] = voce;
    }
    connect(m_ak[0], &QAction::triggered, this,
            [this] { eseguiGestito([this] { ChiamaPrecedente(); }); });
    connect(m_ak[1], &QAction::triggered, this,
            [this] { eseguiGestito([this] { AzzeraNumero(); }); });
    connect(m_ak[2], &QAction::triggered, this,
            [this] { eseguiGestito([this] { ApriRichiestaNumero(); }); });
    connect(m_ak[4], &QAction::triggered, this, [this] { eseguiGestito([this] { AK5_Click(); }); });
    connect(m_ak[5], &QAction::triggered, this, [this] { eseguiGestito([this] { AK6_Click(); }); });
}

void Form1::creaPulsanti() {
    // Call buttons (the manual panel lies over them).
    const QStringList testiPulsanti = {QStringLiteral(" Avanti     "), QStringLiteral("Attendere")};
    for (int i = 0; i < 2; ++i) {
        auto* pulsante = new QPushButton(testiPulsanti[i], m_client);
        pulsante->setObjectName(QStringLiteral("Command1_%1").arg(i));
        pulsante->setFont(carattere(i == 0 ? 210 : 180, i == 0));
        posiziona(pulsante, 120, i == 0 ? 120 : 735, 1500, 570);
        pulsante->setAutoDefault(true); // Enter presses the focused button, as Space does
        connect(pulsante, &QPushButton::clicked, this,
                [this, i] { eseguiGestito([this, i] { Command1_Click(i); }); });
        m_command1[i] = pulsante;
    }
    // A double click or a held key on " Avanti     " calls one number, not two; using anything
    // else of the window first makes the next press a deliberate one.
    m_guardiaAvanti = new GuardiaPressione(m_command1[0]);
    connect(m_command1[1], &QPushButton::clicked, m_guardiaAvanti, &GuardiaPressione::azzera);
    connect(m_s1, &QMenu::triggered, m_guardiaAvanti, &GuardiaPressione::azzera);
}

// The manual panel: the number field and "Chiama Nr.", over the call buttons, hidden at first.
void Form1::creaPannelloManuale() {
    m_gb1 = new QGroupBox(QStringLiteral("Manuale"), m_client);
    m_gb1->setObjectName(QStringLiteral("GB1"));
    m_gb1->setAutoFillBackground(true);
    posiziona(m_gb1, 120, 120, 1500, 1185);
    m_f = new CampoNumero(QStringLiteral("00000"), m_gb1);
    m_f->setObjectName(QStringLiteral("f"));
    m_f->setAlignment(Qt::AlignCenter);
    m_f->setFont(carattere(210, true));
    m_f->setAccessibleName(QStringLiteral("Numero da chiamare"));
    posiziona(m_f, 120, 285, 1260, 375);
    m_selNum = new QPushButton(QStringLiteral("Chiama Nr."), m_gb1);
    m_selNum->setObjectName(QStringLiteral("SelNum"));
    posiziona(m_selNum, 120, 720, 1260, 375);
    m_selNum->setAutoDefault(true);
    connect(m_selNum, &QPushButton::clicked, this,
            [this] { eseguiGestito([this] { ChiamaNumeroScelto(); }); });
    connect(m_f, &CampoNumero::invio, this, [this] {
        eseguiGestito([this] {
            ChiamaNumeroScelto();
            m_f->selectAll();
        });
    });
    m_gb1->hide();
}

void Form1::creaEtichette() {
    // Station, number and state.
    const QStringList testiLabel1 = {QStringLiteral("Postazione"), QStringLiteral("Numero"),
                                     QStringLiteral("Presente")};
    for (int i = 0; i < 3; ++i) {
        auto* etichetta = i == 1 ? new EtichettaNumero(testiLabel1[i], m_client)
                                 : new QLabel(testiLabel1[i], m_client);
        etichetta->setObjectName(QStringLiteral("Label1_%1").arg(i));
        m_label1[i] = etichetta;
    }
    // Right-hand column: station, number, then mode, wrap, state and kiosk count in one row,
    // then the history link.
    m_label1[0]->setFont(carattere(195, true));
    m_label1[0]->setAlignment(Qt::AlignCenter);
    posiziona(m_label1[0], 1740, 45, 2265, 270);
    m_label1[1]->setFont(carattere(390, true));
    m_label1[1]->setAlignment(Qt::AlignCenter);
    posiziona(m_label1[1], 1740, 315, 2265, 480);
    m_label1[2]->setFont(carattere(180, false));
    m_label1[2]->setAlignment(Qt::AlignCenter);
    posiziona(m_label1[2], 2385, 825, 1290, 240);

    m_label2 = new EtichettaCollegamento(TestoCronologia, m_client);
    m_label2->setObjectName(QStringLiteral("Label2"));
    m_label2->setAccessibleDescription(
        QStringLiteral("Mostra o nasconde la cronologia delle chiamate"));
    m_label2->setCursor(Qt::PointingHandCursor);
    m_label2->setAlignment(Qt::AlignCenter);
    QFont collegamento = carattere(165, false);
    collegamento.setUnderline(true);
    m_label2->setFont(collegamento);
    posiziona(m_label2, 1740, 1095, 2265, 240);
    connect(m_label2, &EtichettaCollegamento::attivata, this,
            [this] { eseguiGestito([this] { Label2_Click(); }); });

    auto indicatore = [this](const QString& nome, const QString& testo, const QString& suggerimento,
                             int sinistra, int larghezza) {
        auto* etichetta = new QLabel(testo, m_client);
        etichetta->setObjectName(nome);
        etichetta->setToolTip(suggerimento);
        etichetta->setAlignment(Qt::AlignCenter);
        etichetta->setFrameShape(QFrame::Box);
        etichetta->setFont(carattere(165, true));
        posiziona(etichetta, sinistra, 825, larghezza, 240);
        return etichetta;
    };
    m_label3 = indicatore(QStringLiteral("Label3"), QStringLiteral("SG"),
                          QStringLiteral("SG = Numerazione Singola  ST = Numerazione Standard"),
                          1740, 300);
    m_label4 = indicatore(QStringLiteral("Label4"), QStringLiteral("99"),
                          QStringLiteral("Dopo il nr 99 chiama il nr 1"), 2070, 300);
    m_label5 =
        indicatore(QStringLiteral("Label5"), QStringLiteral("0"), SuggerimentoCoda, 3690, 375);
}

void Form1::creaCronologia() {
    // History list, below the part of the window shown while the history is hidden.
    m_lb1 = new QTreeWidget(m_client);
    m_lb1->setObjectName(QStringLiteral("LB1"));
    m_lb1->setRootIsDecorated(false);
    m_lb1->setUniformRowHeights(true);
    m_lb1->setSelectionBehavior(QAbstractItemView::SelectRows);
    m_lb1->setSortingEnabled(false);
    m_lb1->setColumnCount(0);
    m_lb1->header()->setSectionsClickable(true);
    m_lb1->header()->setSectionsMovable(false);
    posiziona(m_lb1, 120, 1440, 3735, 2775);
    connect(m_lb1->header(), &QHeaderView::sectionClicked, this,
            [this](int) { eseguiGestito([this] { LB1_ColumnClick(); }); });

    m_timer1 = new QTimer(this);
    m_timer1->setObjectName(QStringLiteral("Timer1"));
    m_timer1->setInterval(32000);
    connect(m_timer1, &QTimer::timeout, this,
            [this] { eseguiGestito([this] { Timer1_Timer(); }); });
}

void Form1::impostaAltezzaClient(int twips) {
    m_altezzaClient = twips;
    const int menu = menuBar()->sizeHint().height();
    m_client->setFixedSize(twipsX(LarghezzaClient), twipsY(twips));
    setFixedSize(twipsX(LarghezzaClient), menu + twipsY(twips));
}

// ---------------------------------------------------------------------------------------------
// Load and activation

void Form1::Carica() {
    // 1. Always on top.
    PrimoPiano(this, -1);

    // 2. One copy per machine.
    prendiCopiaUnica();

    // 3. The launcher's kiosk box, through a hidden second load of the launcher.
    m_apertura = std::make_unique<Apertura>();
    m_apertura->Carica();
    const bool totem = m_apertura->totemSpuntato();
    m_label5->setVisible(totem);
    if (totem)
        m_timer1->start();
    else
        m_timer1->stop();

    // 4. Settings.
    LeggiPercorsi();

    // 5 and 6. Wrap settings and numbering mode.
    const int stazione = leggiConfigurazione();

    // 7-9. History list and file.
    m_lb1->setHeaderLabels(
        {QStringLiteral("Numero"), QStringLiteral("Orario"), QStringLiteral("Tempo trasc.")});
    adattaColonne();
    m_cronologia.apri(QDir::current().filePath(Cronologia::nomeFile(stazione)));

    // 10. Functions that single numbering does not have.
    if (ModoSingolo)
        for (int i : {0, 1, 4, 5})
            m_ak[i]->setEnabled(false);

    // 11. Station.
    for (int n = 1; n <= nomi::NumeroPostazioni; ++n) {
        if (PostazioneTesto == QString::number(n)) {
            m_label1[0]->setText(QStringLiteral("Postazione %1").arg(n));
            NumeroPostazione = n;
            break;
        }
    }

    // 12 and 13.
    const std::optional<QString> numero = numeroIniziale();
    if (!numero)
        return;

    // 14.
    m_label1[1]->setText(*numero);

    // 15. First kiosk refresh.
    if (TotemInUso) {
        if (m_label3->text() == QStringLiteral("SG"))
            aggiornaCodaSingola();
        else
            aggiornaCodaStandard();
    }
}

// Start-up step 2: ends the program when another copy runs on the machine.
void Form1::prendiCopiaUnica() {
    m_copiaUnica = std::make_unique<CopiaUnica>();
    if (!m_copiaUnica->acquisisci()) {
        messaggi::mostra(this, messaggi::Icona::Critica, QStringLiteral("ATTENZIONE"),
                         m_copiaUnica->detentoreECopia()
                             ? TestoCopiaInEsecuzione
                             : QStringLiteral("Il controllo della copia unica è tenuto da un "
                                              "altro programma: %1 !")
                                   .arg(m_copiaUnica->descrizioneDetentore()));
        terminaProgramma(0);
    }
    m_idChiusuraCopia = registraChiusura([this] {
        if (m_copiaUnica)
            m_copiaUnica->rilascia();
    });
}

// Start-up steps 5 and 6: the wrap after 99 and the station's numbering mode; returns the
// station.
int Form1::leggiConfigurazione() {
    m_attesa->esegui([this] {
        Cursore data1;
        data1.impostaDatabase(unisciPercorso(PercorsoArchivi, nomi::FileQVR));
        data1.impostaOrigine(nomi::TabConfigurazione);
        data1.aggiorna();
        m_dopo99Singola = data1.campoSiNo(nomi::CampoNovantanoveSingle);
        m_dopo99Standard = data1.campoSiNo(nomi::CampoNovantanoveStandard);
    });
    m_label4->setVisible(m_dopo99Standard);

    // Numbering mode.
    const int stazione = m_attesa->esegui([] {
        Cursore data1;
        data1.impostaDatabase(unisciPercorso(PercorsoArchivi, nomi::FileQVR));
        data1.impostaOrigine(nomi::TabPostazioneUtente);
        data1.aggiorna();
        const int n = stazioneComeNumero(PostazioneTesto);
        const QVariant modo = data1.campo(nomi::campoPostoSS(n));
        const QString testoModo = modo.isNull() ? QString() : valori::comeTesto(modo);
        ModoSingolo = testoModo == QStringLiteral("SG");
        data1.chiudi();
        return n;
    });
    m_label3->setText(ModoSingolo ? QStringLiteral("SG") : QStringLiteral("ST"));
    return stazione;
}

// Start-up steps 12 and 13: the number the console starts from; nothing when the shared
// counter could not be read (reported, and the console starts without it).
std::optional<QString> Form1::numeroIniziale() {
    if (!ModoSingolo) {
        // 12. The station's number from its display record.
        m_tabellaDisplay = nomi::tabNumeriCode(NumeroPostazione);
        return m_attesa->esegui([tabella = m_tabellaDisplay] {
            Cursore data77;
            data77.impostaDatabase(unisciPercorso(PercorsoArchivi, nomi::FileQVRB));
            data77.impostaOrigine(tabella);
            data77.aggiorna();
            const QString letto = data77.campoTesto(nomi::CampoNumeroA1);
            data77.chiudi();
            return letto;
        });
    } else {
        // 13. The last number of the shared sequence. A counter file that cannot be read is
        // reported; the console then starts without it.
        try {
            return m_attesa->esegui([] {
                return contatore::leggiTesto(fileArchivio(PercorsoArchivi, nomi::FileContatore));
            });
        } catch (const ErroreQvr& errore) {
            segnalaErroreContatore(errore);
            return std::nullopt;
        }
    }
}

void Form1::colloca() {
    QScreen* schermo = screen();
    if (!schermo)
        schermo = QGuiApplication::primaryScreen();
    if (!schermo)
        return;
    const QRect area = schermo->availableGeometry();
    int sinistra = area.x() + area.width() - twipsX(4200);
    int alto = area.y() + area.height() - twipsY(2700);
    // The whole window stays on the screen, with its frame: with the history shown the place
    // above would put its lower part below the screen's edge.
    const QRect cornice = frameGeometry();
    sinistra = qMax(area.x(), qMin(sinistra, area.x() + area.width() - cornice.width()));
    alto = qMax(area.y(), qMin(alto, area.y() + area.height() - cornice.height()));
    move(sinistra, alto);
}

// ---------------------------------------------------------------------------------------------
// Calls

void Form1::Command1_Click(int indice) {
    if (indice == 0) {
        if (ModoSingolo) {
            if (TotemInUso) {
                m_label5->setText(m_attesa->esegui([] { return operazioni::LeggiCodaSingola(); }));
                if (visibile(m_label5) && operazioni::valoreNumerico(m_label5->text()) == 0)
                    return;
                // The same gate again under the counter's lock: another station may have
                // called the one waiting since the count was written.
                if (!chiamaSingola(true))
                    return;
                aggiornaCodaSingola();
            } else if (!chiamaSingola()) {
                return;
            }
        } else {
            const bool codaVuota =
                visibile(m_label5) && operazioni::valoreNumerico(m_label5->text()) == 0;
            const auto esito = m_attesa->esegui([dopo99 = m_dopo99Standard, codaVuota] {
                return operazioni::ChiamaProssimo(dopo99, codaVuota);
            });
            m_label1[1]->setText(esito.numeroLetto);
            if (!esito.chiamato)
                return;
            m_label1[1]->setText(QString::number(NumeroChiamato));
            m_label1[2]->setText(nomi::TestoInCorso);
        }
        RegistraChiamata();
        return;
    }

    if (ModoSingolo) {
        messaggi::mostra(this, messaggi::Icona::Informazione, QStringLiteral("QVR"),
                         TestoAttesaSingola);
    } else {
        m_label1[1]->setText(m_attesa->esegui([] { return operazioni::SegnalaAttesa(); }));
        m_label1[2]->setText(nomi::TestoAttesa);
    }
    RegistraChiamata();
}

bool Form1::chiamaSingola(bool conCoda) {
    qint32 numero = 0;
    try {
        const std::optional<qint32> estratto =
            m_attesa->esegui([conCoda, dopo99 = m_dopo99Singola] {
                return conCoda ? operazioni::ChiamaSingolaConCoda(dopo99)
                               : std::optional<qint32>(operazioni::ChiamaSingola(dopo99));
            });
        if (!estratto)
            return false; // nobody waiting after all: the press stops, silently
        numero = *estratto;
    } catch (const operazioni::ErroreContatore& errore) {
        segnalaErroreContatore(errore);
        return false;
    } catch (const operazioni::ErroreNumeroNonPubblicato& errore) {
        // Drawn but not published: shown and kept in the history before the report ends the
        // program, so the number is never lost without a trace.
        m_label1[1]->setText(QString::number(errore.numero()));
        RegistraChiamata();
        throw;
    }
    m_label1[1]->setText(QString::number(numero));
    m_label1[2]->setText(nomi::TestoInCorso);
    return true;
}

void Form1::ChiamaNumeroScelto() {
    if (ModoSingolo)
        return;
    if (m_f->text().isEmpty())
        return; // nothing typed: nothing to call
    NumeroChiamato = CampoNumero::valoreDi(m_f->text());
    if (NumeroChiamato <= 0)
        return;
    m_attesa->esegui([] {
        AggiornaDisplay(NumeroChiamato, static_cast<qint16>(nomi::StatoInCorso),
                        QStringLiteral("T"));
    });
    m_label1[1]->setText(QString::number(NumeroChiamato));
    m_label1[2]->setText(nomi::TestoInCorso);
    RegistraChiamata();
    m_f->ripristina();
    m_f->setFocus();
}

void Form1::RegistraChiamata() {
    const Cronologia::Voce voce = m_cronologia.registra(NumeroChiamato);
    auto* riga = new VoceCronologia(m_lb1);
    riga->setText(0, voce.numero);
    riga->setText(1, voce.orario);
    riga->setText(2, QString::number(voce.trascorsi));
    riga->setTextAlignment(0, Qt::AlignRight | Qt::AlignVCenter);
    riga->setTextAlignment(2, Qt::AlignRight | Qt::AlignVCenter);
    if (m_ordinata)
        m_lb1->sortItems(0, m_ordine);
    adattaColonne();
    m_lb1->scrollToItem(riga);
}

void Form1::adattaColonne() {
    // At least as designed, and as wide as the widest text, so no column runs into the next.
    for (int c = 0; c < 3; ++c) {
        m_lb1->resizeColumnToContents(c);
        m_lb1->setColumnWidth(c, qMax(twipsX(LarghezzeColonne[c]), m_lb1->columnWidth(c)));
    }
}

// ---------------------------------------------------------------------------------------------
// Number functions

void Form1::ChiamaPrecedente() {
    NumeroCorrente = operazioni::valoreNumerico(m_label1[1]->text());
    if (ModoSingolo)
        return;
    if (visibile(m_gb1))
        return;
    if (m_dopo99Standard && NumeroCorrente == 1)
        NumeroCorrente = 100;
    NumeroChiamato = operazioni::numeroPrecedente(NumeroCorrente, false);
    if (NumeroChiamato <= 0)
        return;
    m_attesa->esegui([] {
        AggiornaDisplay(NumeroChiamato, static_cast<qint16>(nomi::StatoInCorso),
                        QStringLiteral("F"));
    });
    m_label1[1]->setText(QString::number(NumeroChiamato));
    m_label1[2]->setText(nomi::TestoInCorso);
}

void Form1::AzzeraNumero() {
    if (ModoSingolo)
        return;
    m_attesa->esegui([] {
        AggiornaDisplay(static_cast<qint32>(0), static_cast<qint16>(nomi::StatoAssente),
                        QStringLiteral("F"));
    });
    m_label1[1]->setText(QStringLiteral("0"));
    m_label1[2]->setText(nomi::TestoAssente);
}

void Form1::ApriRichiestaNumero() {
    if (visibile(m_gb1))
        return;
    boxinputta richiesta(m_label1[1], m_label1[2], this);
    richiesta.Label1()->setText(ModoSingolo ? boxinputta::ModoSingola : boxinputta::ModoStandard);
    richiesta.exec();
}

void Form1::AK5_Click() {
    m_gb1->show();
    m_gb1->raise();
    m_f->setFocus();
    // The panel covers the call buttons: they stay enabled, but the keyboard no longer reaches
    // what the operator cannot see.
    for (QPushButton* pulsante : m_command1)
        pulsante->setFocusPolicy(Qt::NoFocus);
}

void Form1::AK6_Click() {
    m_gb1->hide();
    for (QPushButton* pulsante : m_command1)
        pulsante->setFocusPolicy(Qt::StrongFocus);
}

// ---------------------------------------------------------------------------------------------
// History list

void Form1::Label2_Click() {
    if (m_label2->text() == TestoCronologia) {
        move(x(), y() - twipsY(3000));
        impostaAltezzaClient(AltezzaClientEstesa);
        m_label2->setText(TestoChiudiCronologia);
    } else if (m_label2->text() == TestoChiudiCronologia) {
        move(x(), y() + twipsY(3000));
        impostaAltezzaClient(AltezzaClientRidotta);
        m_label2->setText(TestoCronologia);
    }
}

void Form1::LB1_ColumnClick() {
    m_ordine = m_ordine == Qt::AscendingOrder ? Qt::DescendingOrder : Qt::AscendingOrder;
    m_ordinata = true;
    m_lb1->header()->setSortIndicatorShown(true);
    m_lb1->header()->setSortIndicator(0, m_ordine);
    m_lb1->sortItems(0, m_ordine);
}

// ---------------------------------------------------------------------------------------------
// Kiosk queue monitor

void Form1::Timer1_Timer() {
    // A report on screen runs its own event loop: a tick arriving meanwhile waits its turn.
    if (m_tickInCorso)
        return;
    m_tickInCorso = true;
    struct Fine {
        bool& flag;
        ~Fine() { flag = false; }
    } fine{m_tickInCorso};
    // A failing refresh leaves the count as it was, marked as not current; the failure is
    // reported once, and again only when it changes.
    try {
        if (visibile(m_label5) && m_label3->text() == QStringLiteral("SG"))
            m_label5->setText(QString::number(
                m_attesa->esegui([] { return operazioni::AggiornaCodaSingola(); })));
        if (visibile(m_label5) && m_label3->text() == QStringLiteral("ST"))
            aggiornaCodaStandard();
    } catch (const ErroreQvr& errore) {
        guastoMonitor(errore);
        return;
    }
    if (!m_guastoMonitor.isEmpty()) {
        m_guastoMonitor.clear();
        m_label5->setToolTip(SuggerimentoCoda);
        m_label5->setStyleSheet(QString());
    }
}

void Form1::guastoMonitor(const ErroreQvr& errore) {
    const QString chiave = errore.testoCompleto();
    const bool nuovo = chiave != m_guastoMonitor;
    m_guastoMonitor = chiave;
    m_label5->setToolTip(QStringLiteral("%1\nDato non aggiornato: errore n. %2, %3")
                             .arg(SuggerimentoCoda)
                             .arg(errore.numero())
                             .arg(errore.dettaglio().isEmpty()
                                      ? errore.descrizione()
                                      : errore.descrizione() + QStringLiteral(" (") +
                                            errore.dettaglio() + QStringLiteral(")")));
    m_label5->setStyleSheet(QStringLiteral("color: gray; font-style: italic;"));
    if (nuovo)
        messaggi::mostraErrore(this, QStringLiteral("QVR"), errore);
}

bool Form1::aggiornaCodaSingola() {
    qint32 coda = 0;
    try {
        coda = m_attesa->esegui(
            [dopo99 = m_dopo99Singola] { return operazioni::AggiornaCodaSingola(dopo99); });
    } catch (const operazioni::ErroreContatore& errore) {
        segnalaErroreContatore(errore);
        return false;
    }
    m_label5->setText(QString::number(coda));
    return true;
}

void Form1::aggiornaCodaStandard() {
    m_label5->setText(
        QString::number(m_attesa->esegui([numero = m_label1[1]->text(), dopo99 = m_dopo99Standard] {
            return operazioni::AggiornaCodaStandard(numero, dopo99);
        })));
}

void Form1::segnalaErroreContatore(const ErroreQvr& errore) {
    messaggi::mostraErrore(this, QStringLiteral("QVR"), errore);
}

// ---------------------------------------------------------------------------------------------
// Closing

void Form1::closeEvent(QCloseEvent* evento) {
    // The window manager's close request still reaches a window that waits for the archive: it
    // is taken once the operation is over, never inside it (the program would end, or ask its
    // question, half-way through a call).
    if (m_attesa->inLavoro()) {
        evento->ignore();
        QTimer::singleShot(50, this, [this] { close(); });
        return;
    }
    evento->accept();
    richiestaChiusura();
}

void Form1::richiestaChiusura() {
    if (m_chiusuraInCorso)
        return;
    m_chiusuraInCorso = true;
    m_timer1->stop();
    if (eseguiGestito([this] { chiusura(); }))
        chiudiProgramma(0);
}

void Form1::chiusura() {
    if (ModoSingolo)
        return;
    MsgForm domanda(this);
    domanda.Label2(0)->setText(TestoDomandaChiusura);
    domanda.PB1(1)->setVisible(true);
    domanda.exec();
    if (RispostaMsg != 7)
        AzzeraNumero();
}

} // namespace qvr
