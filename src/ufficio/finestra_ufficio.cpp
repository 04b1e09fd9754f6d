#include "ufficio/finestra_ufficio.h"

#include "archive/crea_archivio.h"
#include "archive/errori.h"
#include "archive/nomi.h"
#include "archive/nuova_giornata.h"
#include "archive/percorsi_archivio.h"
#include "archive/server.h"
#include "console/attesa_archivio.h"
#include "finestre/campo_archivio.h"
#include "finestre/messaggi.h"
#include "registro/deposito.h"
#include "registro/rapporto_pdf.h"
#include "registro/statistiche.h"
#include "ufficio/manutenzione.h"

#include <QBarCategoryAxis>
#include <QBarSeries>
#include <QBarSet>
#include <QChart>
#include <QChartView>
#include <QCheckBox>
#include <QComboBox>
#include <QDateEdit>
#include <QFileDialog>
#include <QFileInfo>
#include <QFormLayout>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPainter>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QSaveFile>
#include <QSpinBox>
#include <QStatusBar>
#include <QTabWidget>
#include <QTableWidget>
#include <QVBoxLayout>
#include <QValueAxis>

#include <algorithm>
#include <limits>

namespace qvr::ufficio {

std::function<QString(QWidget*, const QString&, const QString&, const QString&)>
    FinestraUfficio::sceltaFile =
        [](QWidget* w, const QString& titolo, const QString& nome, const QString& filtro) {
            return QFileDialog::getSaveFileName(w, titolo, nome, filtro);
        };

namespace {

const QString TitoloFinestra = QStringLiteral("QVR Ufficio");

// A widget with a name for the tests and for a screen reader.
template <typename W> W* nominato(W* w, const QString& nome, const QString& accessibile) {
    w->setObjectName(nome);
    w->setAccessibleName(accessibile);
    return w;
}

QTableWidget* tabella(const QString& nome, const QString& accessibile, const QStringList& teste) {
    auto* t = nominato(new QTableWidget(0, teste.size()), nome, accessibile);
    t->setHorizontalHeaderLabels(teste);
    t->setEditTriggers(QAbstractItemView::NoEditTriggers);
    t->setSelectionBehavior(QAbstractItemView::SelectRows);
    t->setSelectionMode(QAbstractItemView::SingleSelection);
    t->verticalHeader()->setVisible(false);
    t->verticalHeader()->setDefaultSectionSize(t->fontMetrics().height() + 8);
    t->horizontalHeader()->setSectionResizeMode(QHeaderView::ResizeToContents);
    t->horizontalHeader()->setStretchLastSection(true);
    t->setTabKeyNavigation(false);
    return t;
}

void cella(QTableWidget* t, int riga, int colonna, const QString& testo) {
    if (t->rowCount() <= riga)
        t->setRowCount(riga + 1);
    t->setItem(riga, colonna, new QTableWidgetItem(testo));
}

QString testoChiamata(const Chiamata& c) {
    return QStringLiteral("%1  Numero %2, postazione %3")
        .arg(c.ora.toString(QStringLiteral("HH:mm:ss")))
        .arg(c.numero)
        .arg(c.postazione);
}

QString testoModo(bool singola) {
    return singola ? QStringLiteral("Numerazione singola") : QStringLiteral("Standard");
}

} // namespace

FinestraUfficio::FinestraUfficio(const QString& archivio, QWidget* parent) : QMainWindow(parent) {
    setWindowTitle(TitoloFinestra);
    auto* centro = new QWidget;
    auto* colonna = new QVBoxLayout(centro);

    auto* riga = new QHBoxLayout;
    auto* etichetta = new QLabel(QStringLiteral("&Archivio:"));
    m_campoArchivio = nominato(new CampoArchivio(archivio), QStringLiteral("archivio"),
                               QStringLiteral("Archivio"));
    m_campoArchivio->testo()->setAccessibleName(QStringLiteral("Archivio"));
    m_campoArchivio->setFocusProxy(m_campoArchivio->testo());
    etichetta->setBuddy(m_campoArchivio->testo());
    auto* apriArchivio = nominato(new QPushButton(QStringLiteral("A&pri")), QStringLiteral("apri"),
                                  QStringLiteral("Apri l'archivio"));
    connect(apriArchivio, &QPushButton::clicked, this, [this] {
        if (m_campoArchivio->controlla())
            apri(m_campoArchivio->valore());
    });
    riga->addWidget(etichetta);
    riga->addWidget(m_campoArchivio, 1);
    riga->addWidget(apriArchivio);
    colonna->addLayout(riga);

    m_avviso = nominato(new QLabel, QStringLiteral("avviso"), QStringLiteral("Avviso"));
    m_avviso->setStyleSheet(QStringLiteral("QLabel { background: #b00020; color: white; "
                                           "padding: 4px; font-weight: bold; }"));
    m_avviso->setWordWrap(true);
    m_avviso->hide();
    colonna->addWidget(m_avviso);

    m_schede = nominato(new QTabWidget, QStringLiteral("schede"), QStringLiteral("Pagine"));
    m_schede->addTab(creaPostazioni(), QStringLiteral("P&ostazioni"));
    m_schede->addTab(creaUtenti(), QStringLiteral("&Utenti"));
    m_schede->addTab(creaNumerazione(), QStringLiteral("&Numerazione e totem"));
    m_schede->addTab(creaOggi(), QStringLiteral("O&ggi"));
    m_schede->addTab(creaArchivio(), QStringLiteral("Arc&hivio"));
    m_schede->addTab(creaStatistiche(), QStringLiteral("S&tatistiche"));
    colonna->addWidget(m_schede, 1);
    setCentralWidget(centro);

    m_stato = nominato(new QLabel, QStringLiteral("stato"), QStringLiteral("Stato"));
    statusBar()->addWidget(m_stato, 1);
    m_attesa = std::make_unique<AttesaArchivio>(m_stato);
    resize(1100, 700);

    if (!archivio.isEmpty())
        apri(archivio);
    else
        stato(QStringLiteral("Scegliere l'archivio (cartella o indirizzo del server) e premere "
                             "\"Apri\"."));
}

FinestraUfficio::~FinestraUfficio() = default;

QString FinestraUfficio::testoStato() const {
    return m_stato->text();
}

void FinestraUfficio::stato(const QString& testo) {
    m_stato->setText(testo);
}

bool FinestraUfficio::esegui(const std::function<void()>& lavoro, const QString& titolo) {
    try {
        m_attesa->esegui(lavoro);
        return true;
    } catch (const ErroreQvr& e) {
        stato(e.testoCompleto());
        messaggi::mostraErrore(this, titolo, e);
        return false;
    }
}

bool FinestraUfficio::apri(const QString& archivio) {
    m_osservatore.reset();
    m_giornata.reset();
    m_archivio = archivio;
    m_campoArchivio->testo()->setText(archivio_campo::perSchermo(archivio));
    m_avviso->hide();
    m_cambiata = {};
    setWindowTitle(TitoloFinestra + QStringLiteral(" - ") + archivio_campo::perSchermo(archivio));
    const bool ok = ricarica();
    m_chiamate->clear();
    if (ok) {
        // Today's calls before the window opened, from the recorder's journal when it runs.
        QVector<Chiamata> prima;
        try {
            m_attesa->esegui(
                [&] { prima = chiamateDelRegistro(archivio, QDate::currentDate(), 50); });
        } catch (const ErroreQvr& e) {
            stato(QStringLiteral("Registro non leggibile: %1").arg(e.testoCompleto()));
        }
        for (const Chiamata& c : prima)
            m_chiamate->addItem(testoChiamata(c));
    }
    m_osservatore = std::make_unique<Osservatore>(archivio);
    connect(m_osservatore.get(), &Osservatore::letta, this, &FinestraUfficio::mostraGiornata);
    connect(m_osservatore.get(), &Osservatore::errore, this, &FinestraUfficio::erroreOsservatore);
    m_osservatore->avvia();
    if (ok)
        stato(QStringLiteral("Archivio aperto: %1").arg(archivio_campo::perSchermo(archivio)));
    emit aggiornata();
    return ok;
}

bool FinestraUfficio::ricarica() {
    Configurazione letta;
    const QString archivio = m_archivio;
    if (!esegui([&] { letta = leggiConfigurazione(archivio); },
                QStringLiteral("Archivio non leggibile"))) {
        m_confLetta = false;
        m_avviso->setText(QStringLiteral("Archivio non leggibile: %1").arg(m_stato->text()));
        m_avviso->show();
        mostraConfigurazione();
        return false;
    }
    m_conf = letta;
    m_confLetta = true;
    mostraConfigurazione();
    return true;
}

// ---- Postazioni ----

QWidget* FinestraUfficio::creaPostazioni() {
    auto* pagina = new QWidget;
    auto* griglia = new QGridLayout(pagina);
    const QStringList teste = {QStringLiteral("Postazione"), QStringLiteral("Utente"),
                               QStringLiteral("Numerazione"), QStringLiteral("Numero e stato"),
                               QString()};
    for (int c = 0; c < teste.size(); ++c) {
        auto* t = new QLabel(QStringLiteral("<b>%1</b>").arg(teste[c]));
        griglia->addWidget(t, 0, c);
    }
    for (int n = 1; n <= nomi::NumeroPostazioni; ++n) {
        auto* nome = new QLabel(QStringLiteral("Postazione &%1").arg(n % 10));
        if (n == 10)
            nome->setText(QStringLiteral("Postazione 1&0"));
        m_utente[n - 1] = nominato(new QComboBox, QStringLiteral("utente%1").arg(n),
                                   QStringLiteral("Utente della postazione %1").arg(n));
        m_utente[n - 1]->setMinimumContentsLength(24);
        nome->setBuddy(m_utente[n - 1]);
        m_modo[n - 1] = nominato(new QComboBox, QStringLiteral("modo%1").arg(n),
                                 QStringLiteral("Numerazione della postazione %1").arg(n));
        m_modo[n - 1]->addItem(testoModo(false), ModoStandard);
        m_modo[n - 1]->addItem(testoModo(true), ModoSingolo);
        m_numero[n - 1] = nominato(new QLabel, QStringLiteral("numero%1").arg(n),
                                   QStringLiteral("Numero e stato della postazione %1").arg(n));
        m_nota[n - 1] = nominato(new QLabel, QStringLiteral("nota%1").arg(n),
                                 QStringLiteral("Nota della postazione %1").arg(n));
        m_nota[n - 1]->setStyleSheet(QStringLiteral("color: #8a4b00;"));
        griglia->addWidget(nome, n, 0);
        griglia->addWidget(m_utente[n - 1], n, 1);
        griglia->addWidget(m_modo[n - 1], n, 2);
        griglia->addWidget(m_numero[n - 1], n, 3);
        griglia->addWidget(m_nota[n - 1], n, 4);
        connect(m_utente[n - 1], &QComboBox::activated, this,
                [this, n](int i) { cambiaCampo(Campo::postoId(n), m_utente[n - 1]->itemData(i)); });
        connect(m_modo[n - 1], &QComboBox::activated, this,
                [this, n](int i) { cambiaCampo(Campo::postoModo(n), m_modo[n - 1]->itemData(i)); });
    }
    auto* spiega = new QLabel(QStringLiteral(
        "Ogni modifica è salvata subito. Una console già aperta legge utente e numerazione "
        "solo all'avvio: la modifica vale dal suo prossimo avvio."));
    spiega->setWordWrap(true);
    griglia->addWidget(spiega, nomi::NumeroPostazioni + 1, 0, 1, 5);
    griglia->setColumnStretch(4, 1);
    griglia->setRowStretch(nomi::NumeroPostazioni + 2, 1);
    return pagina;
}

QString FinestraUfficio::nota(int n) const {
    if (!m_cambiata[n - 1] || !m_giornata)
        return {};
    // Only the state the station last published is known, not whether its console still runs:
    // one that ended without closing the station leaves it as it was.
    const StatoPostazione& s = m_giornata->postazioni[n - 1];
    if (!s.guasto.isEmpty() || (s.stato != nomi::StatoInCorso && s.stato != nomi::StatoAttesa))
        return {};
    return QStringLiteral("Ultimo stato \"%1\": se la console è aperta, la modifica vale dal suo "
                          "prossimo avvio")
        .arg(ufficio::testoStato(s.stato));
}

void FinestraUfficio::mostraConfigurazione() {
    for (QWidget* w :
         {static_cast<QWidget*>(m_schede->widget(0)), m_schede->widget(1), m_schede->widget(2)})
        w->setEnabled(m_confLetta);
    for (int n = 1; n <= nomi::NumeroPostazioni; ++n) {
        const Postazione& p = m_conf.postazioni[n - 1];
        QComboBox* u = m_utente[n - 1];
        u->clear();
        for (const Utente& utente : m_conf.utenti)
            u->addItem(QStringLiteral("%1 - %2").arg(utente.id).arg(utente.nominativo),
                       QVariant::fromValue<qint32>(utente.id));
        int i = u->findData(QVariant::fromValue<qint32>(p.idUtente));
        if (i < 0) {
            u->addItem(QStringLiteral("%1 - (utente inesistente)").arg(p.idUtente),
                       QVariant::fromValue<qint32>(p.idUtente));
            i = u->count() - 1;
        }
        u->setCurrentIndex(i);
        m_modo[n - 1]->setCurrentIndex(p.singola() ? 1 : 0);
        m_nota[n - 1]->setText(nota(n));
    }
    m_tabUtenti->setRowCount(0);
    for (int r = 0; r < m_conf.utenti.size(); ++r) {
        const Utente& u = m_conf.utenti[r];
        cella(m_tabUtenti, r, 0, QString::number(u.id));
        cella(m_tabUtenti, r, 1, u.nominativo);
        QStringList dove;
        for (const int n : m_conf.postazioniDi(u.id))
            dove << QString::number(n);
        cella(m_tabUtenti, r, 2, dove.join(u", "));
    }
    // A new user takes the next free id unless the operator types another.
    qint32 massimo = 0;
    for (const Utente& u : m_conf.utenti)
        massimo = std::max(massimo, u.id);
    if (massimo < std::numeric_limits<qint32>::max())
        m_id->setValue(massimo + 1);
    m_nominativo->clear();
    m_dopo99Standard->setChecked(m_conf.dopo99Standard);
    m_dopo99Singola->setChecked(m_conf.dopo99Singola);
    m_totem->setChecked(m_conf.totem == TotemSi);
    m_display->setChecked(m_conf.display);
}

void FinestraUfficio::cambiaCampo(const Campo& campo, const QVariant& nuovo) {
    QVariant visto = m_conf.valore(campo);
    const QString archivio = m_archivio;
    for (;;) {
        if (normalizza(visto, campo.tipo) == normalizza(nuovo, campo.tipo)) {
            mostraConfigurazione();
            return;
        }
        Esito esito;
        if (!esegui([&] { esito = scriviCampo(archivio, campo, visto, nuovo); },
                    QStringLiteral("Modifica non salvata"))) {
            // Nothing was written: the controls go back to what was read. Not read again here,
            // which on an archive that does not answer would wait a second time for nothing.
            mostraConfigurazione();
            return;
        }
        if (esito.scritto) {
            m_conf.imposta(campo, esito.attuale);
            for (int n = 1; n <= nomi::NumeroPostazioni; ++n)
                if (campo.nome == nomi::campoPostoID(n) || campo.nome == nomi::campoPostoSS(n))
                    m_cambiata[n - 1] = true;
            mostraConfigurazione();
            stato(QStringLiteral("Salvato: %1 è ora %2.")
                      .arg(nomeCampo(campo), testoValore(m_conf, campo, esito.attuale)));
            if (m_osservatore)
                m_osservatore->rileggi();
            emit aggiornata();
            return;
        }
        // Changed meanwhile by someone else: show the new state, then ask (unless it is
        // already what the operator chose).
        ricarica();
        if (esito.attuale == normalizza(nuovo, campo.tipo)) {
            stato(QStringLiteral("Già salvato da un altro programma: %1 è %2.")
                      .arg(nomeCampo(campo), testoValore(m_conf, campo, esito.attuale)));
            emit aggiornata();
            return;
        }
        const auto risposta = messaggi::mostra(
            this, messaggi::Icona::Domanda, QStringLiteral("Valore cambiato"),
            QStringLiteral("Nel frattempo un altro programma ha cambiato %1: ora è %2.\n\n"
                           "Sostituirlo con %3?")
                .arg(nomeCampo(campo), testoValore(m_conf, campo, esito.attuale),
                     testoValore(m_conf, campo, nuovo)),
            QMessageBox::Yes | QMessageBox::No, QMessageBox::No);
        if (risposta != QMessageBox::Yes) {
            stato(QStringLiteral("Non modificato: %1 resta %2.")
                      .arg(nomeCampo(campo), testoValore(m_conf, campo, esito.attuale)));
            emit aggiornata();
            return;
        }
        visto = esito.attuale;
    }
}

// ---- Utenti ----

QWidget* FinestraUfficio::creaUtenti() {
    auto* pagina = new QWidget;
    auto* riga = new QHBoxLayout(pagina);
    m_tabUtenti =
        tabella(QStringLiteral("tabellaUtenti"), QStringLiteral("Utenti"),
                {QStringLiteral("Id"), QStringLiteral("Nominativo"), QStringLiteral("Postazioni")});
    riga->addWidget(m_tabUtenti, 2);
    auto* lato = new QVBoxLayout;
    auto* modulo = new QFormLayout;
    m_id = nominato(new QSpinBox, QStringLiteral("id"), QStringLiteral("Id dell'utente"));
    m_id->setRange(1, std::numeric_limits<qint32>::max());
    m_nominativo = nominato(new QLineEdit, QStringLiteral("nominativo"),
                            QStringLiteral("Nominativo dell'utente"));
    modulo->addRow(QStringLiteral("I&d:"), m_id);
    modulo->addRow(QStringLiteral("No&minativo:"), m_nominativo);
    lato->addLayout(modulo);
    const auto pulsante = [&](const QString& testo, const QString& nome, auto azione) {
        auto* p = nominato(new QPushButton(testo), nome, QString(testo).remove(QLatin1Char('&')));
        connect(p, &QPushButton::clicked, this, azione);
        lato->addWidget(p);
    };
    pulsante(QStringLiteral("Agg&iungi"), QStringLiteral("aggiungi"), [this] { aggiungiUtente(); });
    pulsante(QStringLiteral("&Rinomina"), QStringLiteral("rinomina"), [this] { rinominaUtente(); });
    pulsante(QStringLiteral("&Cambia id"), QStringLiteral("cambiaId"),
             [this] { cambiaIdUtente(); });
    pulsante(QStringLiteral("Rimuo&vi"), QStringLiteral("rimuovi"), [this] { rimuoviUtente(); });
    auto* spiega = new QLabel(QStringLiteral(
        "Scegliere un utente nell'elenco: id e nominativo passano nei campi. \"Aggiungi\" crea un "
        "utente con l'id e il nominativo scritti; \"Cambia id\" dà all'utente scelto l'id "
        "scritto (le sue postazioni lo seguono)."));
    spiega->setWordWrap(true);
    lato->addWidget(spiega);
    lato->addStretch(1);
    riga->addLayout(lato, 1);
    connect(m_tabUtenti, &QTableWidget::itemSelectionChanged, this, [this] {
        if (const auto u = utenteScelto()) {
            m_id->setValue(u->id);
            m_nominativo->setText(u->nominativo);
        }
    });
    return pagina;
}

std::optional<Utente> FinestraUfficio::utenteDaCambiare() {
    const auto u = utenteScelto();
    if (!u)
        stato(QStringLiteral("Scegliere prima un utente nell'elenco."));
    return u;
}

void FinestraUfficio::avvisaUtenteCambiato(qint32 id) {
    messaggi::mostra(this, messaggi::Icona::Avviso, QStringLiteral("Utente cambiato"),
                     QStringLiteral("Nel frattempo un altro programma ha cambiato o rimosso "
                                    "l'utente %1 o le sue postazioni: ora sono mostrati come "
                                    "sono nell'archivio. Nulla è stato scritto.")
                         .arg(id));
}

std::optional<Utente> FinestraUfficio::utenteScelto() {
    const int r = m_tabUtenti->currentRow();
    if (r < 0 || r >= m_conf.utenti.size() || m_tabUtenti->selectedItems().isEmpty())
        return std::nullopt;
    return m_conf.utenti[r];
}

namespace {

// "alla postazione 3", "alle postazioni 3, 4".
QString allePostazioni(const QVector<int>& p) {
    QStringList s;
    for (const int n : p)
        s << QString::number(n);
    return (p.size() == 1 ? QStringLiteral("alla postazione ")
                          : QStringLiteral("alle postazioni ")) +
           s.join(u", ");
}

} // namespace

void FinestraUfficio::aggiungiUtente() {
    const Utente nuovo{static_cast<qint32>(m_id->value()), m_nominativo->text().trimmed()};
    if (const QString m = motivoNominativoNonValido(nuovo.nominativo); !m.isEmpty()) {
        messaggi::mostra(this, messaggi::Icona::Avviso, QStringLiteral("Nominativo non valido"), m);
        m_nominativo->setFocus();
        return;
    }
    EsitoUtente esito;
    const QString archivio = m_archivio;
    if (!esegui([&] { esito = qvr::ufficio::aggiungiUtente(archivio, nuovo); },
                QStringLiteral("Utente non aggiunto")))
        return;
    ricarica();
    if (esito.tipo == EsitoUtente::IdInUso) {
        // The name typed stays; the id field now offers the next free one.
        m_nominativo->setText(nuovo.nominativo);
        messaggi::mostra(this, messaggi::Icona::Avviso, QStringLiteral("Id già in uso"),
                         QStringLiteral("L'id %1 è già di un altro utente: scegliere un altro id.")
                             .arg(nuovo.id));
        m_id->setFocus();
        return;
    }
    stato(QStringLiteral("Utente %1 aggiunto: %2.").arg(nuovo.id).arg(nuovo.nominativo));
    emit aggiornata();
}

void FinestraUfficio::rinominaUtente() {
    const auto u = utenteDaCambiare();
    if (!u)
        return;
    const QString nome = m_nominativo->text().trimmed();
    if (const QString m = motivoNominativoNonValido(nome); !m.isEmpty()) {
        messaggi::mostra(this, messaggi::Icona::Avviso, QStringLiteral("Nominativo non valido"), m);
        m_nominativo->setFocus();
        return;
    }
    EsitoUtente esito;
    const QString archivio = m_archivio;
    if (!esegui([&] { esito = qvr::ufficio::rinominaUtente(archivio, *u, nome); },
                QStringLiteral("Utente non rinominato")))
        return;
    ricarica();
    if (esito.tipo == EsitoUtente::Cambiato) {
        avvisaUtenteCambiato(u->id);
        return;
    }
    stato(QStringLiteral("Utente %1 rinominato: %2.").arg(u->id).arg(nome));
    emit aggiornata();
}

void FinestraUfficio::cambiaIdUtente() {
    const auto u = utenteDaCambiare();
    if (!u)
        return;
    const qint32 nuovoId = static_cast<qint32>(m_id->value());
    const QVector<int> postazioni = m_conf.postazioniDi(u->id);
    if (!postazioni.isEmpty() &&
        messaggi::mostra(this, messaggi::Icona::Domanda, QStringLiteral("Cambiare l'id?"),
                         QStringLiteral("%1 (id %2) lavora %3. Dare l'id %4 all'utente e "
                                        "alla postazione?")
                             .arg(u->nominativo)
                             .arg(u->id)
                             .arg(allePostazioni(postazioni))
                             .arg(nuovoId),
                         QMessageBox::Yes | QMessageBox::No, QMessageBox::No) != QMessageBox::Yes)
        return;
    EsitoUtente esito;
    const QString archivio = m_archivio;
    if (!esegui([&] { esito = qvr::ufficio::cambiaIdUtente(archivio, *u, postazioni, nuovoId); },
                QStringLiteral("Id non cambiato")))
        return;
    ricarica();
    if (esito.tipo == EsitoUtente::IdInUso) {
        messaggi::mostra(this, messaggi::Icona::Avviso, QStringLiteral("Id già in uso"),
                         QStringLiteral("L'id %1 è già di un altro utente.").arg(nuovoId));
        return;
    }
    if (esito.tipo == EsitoUtente::Cambiato) {
        avvisaUtenteCambiato(u->id);
        return;
    }
    stato(QStringLiteral("Utente %1: ora ha l'id %2.").arg(u->nominativo).arg(nuovoId));
    emit aggiornata();
}

void FinestraUfficio::rimuoviUtente() {
    const auto u = utenteDaCambiare();
    if (!u)
        return;
    const QVector<int> postazioni = m_conf.postazioniDi(u->id);
    const QString domanda =
        postazioni.isEmpty()
            ? QStringLiteral("Rimuovere l'utente %1 (id %2)?").arg(u->nominativo).arg(u->id)
            : QStringLiteral("%1 (id %2) lavora %3: rimosso l'utente, la postazione resterà "
                             "senza utente finché non se ne sceglie un altro. Rimuoverlo?")
                  .arg(u->nominativo)
                  .arg(u->id)
                  .arg(allePostazioni(postazioni));
    if (messaggi::mostra(this, messaggi::Icona::Domanda, QStringLiteral("Rimuovere l'utente?"),
                         domanda, QMessageBox::Yes | QMessageBox::No,
                         QMessageBox::No) != QMessageBox::Yes)
        return;
    EsitoUtente esito;
    const QString archivio = m_archivio;
    if (!esegui([&] { esito = qvr::ufficio::rimuoviUtente(archivio, *u, postazioni); },
                QStringLiteral("Utente non rimosso")))
        return;
    ricarica();
    if (esito.tipo == EsitoUtente::Cambiato) {
        avvisaUtenteCambiato(u->id);
        return;
    }
    stato(QStringLiteral("Utente %1 (id %2) rimosso.").arg(u->nominativo).arg(u->id));
    emit aggiornata();
}

// ---- Numerazione e totem ----

QWidget* FinestraUfficio::creaNumerazione() {
    auto* pagina = new QWidget;
    auto* colonna = new QVBoxLayout(pagina);
    const auto casella = [&](const QString& testo, const QString& nome, const Campo& campo,
                             auto valore) {
        auto* c = nominato(new QCheckBox(testo), nome, QString(testo).remove(QLatin1Char('&')));
        connect(c, &QCheckBox::clicked, this,
                [this, campo, valore](bool acceso) { cambiaCampo(campo, valore(acceso)); });
        colonna->addWidget(c);
        return c;
    };
    const auto siNo = [](bool v) { return QVariant(v); };
    m_dopo99Standard = casella(QStringLiteral("Numerazione standard: dopo il 99 &ricomincia da 1"),
                               QStringLiteral("dopo99Standard"), Campo::dopo99Standard(), siNo);
    m_dopo99Singola = casella(QStringLiteral("Numerazione s&ingola: dopo il 99 ricomincia da 1"),
                              QStringLiteral("dopo99Singola"), Campo::dopo99Singola(), siNo);
    m_totem = casella(QStringLiteral("Tot&em in uso"), QStringLiteral("totem"), Campo::totem(),
                      [](bool v) { return QVariant(v ? TotemSi : TotemNo); });
    m_display = casella(QStringLiteral("&Display acceso (FE)"), QStringLiteral("display"),
                        Campo::display(), siNo);
    auto* spiega = new QLabel(QStringLiteral(
        "Le console leggono queste impostazioni all'avvio. Il totem smette o riprende di "
        "dare biglietti subito."));
    spiega->setWordWrap(true);
    colonna->addWidget(spiega);
    colonna->addStretch(1);
    return pagina;
}

// ---- Oggi ----

QWidget* FinestraUfficio::creaOggi() {
    auto* pagina = new QWidget;
    auto* griglia = new QGridLayout(pagina);
    m_tabOggi =
        tabella(QStringLiteral("tabellaOggi"), QStringLiteral("Postazioni oggi"),
                {QStringLiteral("Postazione"), QStringLiteral("Utente"),
                 QStringLiteral("Numerazione"), QStringLiteral("Numero"), QStringLiteral("Stato")});
    m_tabCode = tabella(QStringLiteral("tabellaCode"), QStringLiteral("Persone in attesa"),
                        {QStringLiteral("Sequenza"), QStringLiteral("Ultimo biglietto"),
                         QStringLiteral("In attesa")});
    m_chiamate =
        nominato(new QListWidget, QStringLiteral("chiamate"), QStringLiteral("Ultime chiamate"));
    auto* nuova = nominato(new QPushButton(QStringLiteral("Nuova gio&rnata...")),
                           QStringLiteral("nuovaGiornata"), QStringLiteral("Nuova giornata"));
    connect(nuova, &QPushButton::clicked, this, [this] { nuovaGiornata(); });
    griglia->addWidget(new QLabel(QStringLiteral("<b>Postazioni</b>")), 0, 0);
    griglia->addWidget(m_tabOggi, 1, 0, 3, 1);
    griglia->addWidget(new QLabel(QStringLiteral("<b>Persone in attesa al totem</b>")), 0, 1);
    griglia->addWidget(m_tabCode, 1, 1);
    griglia->addWidget(new QLabel(QStringLiteral("<b>Ultime chiamate</b>")), 2, 1);
    griglia->addWidget(m_chiamate, 3, 1);
    griglia->addWidget(nuova, 4, 0, Qt::AlignLeft);
    griglia->setColumnStretch(0, 3);
    griglia->setColumnStretch(1, 2);
    griglia->setRowStretch(1, 3);
    griglia->setRowStretch(3, 2);
    return pagina;
}

void FinestraUfficio::mostraGiornata(const Giornata& g) {
    m_avviso->hide();
    if (m_giornata)
        for (const Chiamata& c : chiamateTra(*m_giornata, g, QDateTime::currentDateTime())) {
            m_chiamate->insertItem(0, testoChiamata(c));
            while (m_chiamate->count() > 50)
                delete m_chiamate->takeItem(m_chiamate->count() - 1);
        }
    m_giornata = g;
    m_tabOggi->setRowCount(nomi::NumeroPostazioni);
    for (int n = 1; n <= nomi::NumeroPostazioni; ++n) {
        const StatoPostazione& s = g.postazioni[n - 1];
        cella(m_tabOggi, n - 1, 0, QString::number(n));
        cella(m_tabOggi, n - 1, 1, s.nominativo);
        cella(m_tabOggi, n - 1, 2, testoModo(s.singola));
        cella(m_tabOggi, n - 1, 3, s.guasto.isEmpty() ? QString::number(s.numero) : QString());
        cella(m_tabOggi, n - 1, 4, s.guasto.isEmpty() ? ufficio::testoStato(s.stato) : s.guasto);
        m_numero[n - 1]->setText(s.guasto.isEmpty() ? QStringLiteral("%1  %2").arg(s.numero).arg(
                                                          ufficio::testoStato(s.stato))
                                                    : s.guasto);
        m_nota[n - 1]->setText(nota(n));
    }
    m_tabCode->setRowCount(nomi::NumeroSequenze);
    for (int s = 1; s <= nomi::NumeroSequenze; ++s) {
        cella(m_tabCode, s - 1, 0, statistiche::nomeSequenza(s));
        cella(m_tabCode, s - 1, 1, QString::number(g.biglietti[s - 1]));
        cella(m_tabCode, s - 1, 2, QString::number(g.inAttesa[s - 1]));
    }
}

void FinestraUfficio::erroreOsservatore(int numero, const QString& testo) {
    m_avviso->setText(QStringLiteral("Archivio non raggiungibile (errore %1): %2. "
                                     "Nuovo tentativo fra 2 secondi.")
                          .arg(numero)
                          .arg(testo));
    m_avviso->show();
}

void FinestraUfficio::nuovaGiornata() {
    if (m_archivio.isEmpty())
        return;
    const auto risposta = messaggi::mostra(
        this, messaggi::Icona::Domanda, QStringLiteral("Nuova giornata"),
        QStringLiteral("Iniziare una nuova giornata su %1?\n\n"
                       "Saranno azzerati:\n"
                       "- i contatori dei biglietti del totem (P1...P11) e le persone in coda "
                       "della numerazione singola;\n"
                       "- il contatore della numerazione singola (Nr4All.txt);\n"
                       "- il numero di ogni postazione, che torna a 0 in stato \"Assente...\".\n\n"
                       "Utenti, postazioni e impostazioni restano come sono.")
            .arg(archivio_campo::perSchermo(m_archivio)),
        QMessageBox::Yes | QMessageBox::No, QMessageBox::No, {},
        {{QMessageBox::Yes, QStringLiteral("A&zzera")}});
    if (risposta != QMessageBox::Yes) {
        stato(QStringLiteral("Nuova giornata annullata: nulla è stato azzerato."));
        return;
    }
    QStringList passi;
    const QString archivio = m_archivio;
    if (!esegui([&] { giornata::nuovaGiornata(archivio, [&](const QString& p) { passi << p; }); },
                QStringLiteral("Nuova giornata non completata")))
        return;
    m_chiamate->clear();
    if (m_osservatore)
        m_osservatore->rileggi();
    stato(QStringLiteral("Nuova giornata iniziata: %1.").arg(passi.join(u"; ")));
    emit aggiornata();
}

// ---- Archivio ----

QWidget* FinestraUfficio::creaArchivio() {
    auto* pagina = new QWidget;
    auto* colonna = new QVBoxLayout(pagina);
    auto* gruppo = new QGroupBox(QStringLiteral("Altro archivio (cartella o server)"));
    auto* modulo = new QFormLayout(gruppo);
    m_destinazione = nominato(new CampoArchivio(QString()), QStringLiteral("destinazione"),
                              QStringLiteral("Altro archivio"));
    m_destinazione->testo()->setAccessibleName(QStringLiteral("Altro archivio"));
    m_destinazione->setFocusProxy(m_destinazione->testo());
    auto* etichetta = new QLabel(QStringLiteral("A&ltro archivio:"));
    etichetta->setBuddy(m_destinazione->testo());
    modulo->addRow(etichetta, m_destinazione);
    m_sovrascrivi = nominato(new QCheckBox(QStringLiteral("Sostituisce un archi&vio già "
                                                          "presente")),
                             QStringLiteral("sovrascrivi"),
                             QStringLiteral("Sostituisce un archivio già presente"));
    modulo->addRow(m_sovrascrivi);
    auto* pulsanti = new QHBoxLayout;
    const auto pulsante = [&](const QString& testo, const QString& nome, auto azione) {
        auto* p = nominato(new QPushButton(testo), nome, QString(testo).remove(QLatin1Char('&')));
        connect(p, &QPushButton::clicked, this, azione);
        pulsanti->addWidget(p);
    };
    pulsante(QStringLiteral("&Crea un nuovo archivio"), QStringLiteral("creaArchivio"),
             [this] { creaNuovoArchivio(); });
    pulsante(QStringLiteral("Copia l'archivio ap&erto"), QStringLiteral("copiaArchivio"),
             [this] { copiaArchivio(); });
    pulsante(QStringLiteral("Controlla l'&integrità dell'archivio aperto"),
             QStringLiteral("controlla"), [this] { controllaIntegrita(); });
    modulo->addRow(pulsanti);
    colonna->addWidget(gruppo);
    m_esito = nominato(new QPlainTextEdit, QStringLiteral("esito"), QStringLiteral("Esito"));
    m_esito->setReadOnly(true);
    colonna->addWidget(m_esito, 1);
    return pagina;
}

void FinestraUfficio::creaNuovoArchivio() {
    if (!m_destinazione->controlla())
        return;
    const QString a = m_destinazione->valore();
    if (a.trimmed().isEmpty()) {
        stato(QStringLiteral("Scrivere o scegliere dove creare l'archivio."));
        m_destinazione->testo()->setFocus();
        return;
    }
    const bool sovrascrivi = m_sovrascrivi->isChecked();
    if (!esegui([&] { qvr::creaArchivio(a, {}, sovrascrivi); },
                QStringLiteral("Archivio non creato")))
        return;
    m_esito->setPlainText(QStringLiteral("Nuovo archivio creato in %1: dieci utenti, l'utente n "
                                         "alla postazione n, numerazione standard, totem non in "
                                         "uso.")
                              .arg(archivio_campo::perSchermo(a)));
    stato(QStringLiteral("Archivio creato: %1").arg(archivio_campo::perSchermo(a)));
}

void FinestraUfficio::copiaArchivio() {
    if (!m_destinazione->controlla())
        return;
    const QString a = m_destinazione->valore();
    if (m_archivio.isEmpty() || a.trimmed().isEmpty()) {
        stato(QStringLiteral("Aprire un archivio e scrivere o scegliere dove copiarlo."));
        return;
    }
    const bool sovrascrivi = m_sovrascrivi->isChecked();
    Controllo c;
    const QString da = m_archivio;
    if (!esegui([&] { c = copiaEVerifica(da, a, sovrascrivi); },
                QStringLiteral("Archivio non copiato")))
        return;
    m_esito->setPlainText(c.righe.join(u'\n'));
    stato(c.sano ? QStringLiteral("Archivio copiato e verificato.")
                 : QStringLiteral("Copia con differenze: vedere l'esito."));
}

void FinestraUfficio::controllaIntegrita() {
    if (m_archivio.isEmpty())
        return;
    Controllo c;
    const QString archivio = m_archivio;
    if (!esegui([&] { c = controllaArchivio(archivio); }, QStringLiteral("Controllo non fatto")))
        return;
    m_esito->setPlainText(c.righe.join(u'\n'));
    stato(c.sano ? QStringLiteral("Controllo dell'archivio: nessun problema.")
                 : QStringLiteral("Controllo dell'archivio: trovati problemi."));
}

// ---- Statistiche ----

QWidget* FinestraUfficio::creaStatistiche() {
    auto* pagina = new QWidget;
    auto* colonna = new QVBoxLayout(pagina);
    auto* riga = new QHBoxLayout;
    m_dal = nominato(new QDateEdit(QDate::currentDate()), QStringLiteral("dal"),
                     QStringLiteral("Dal giorno"));
    m_al = nominato(new QDateEdit(QDate::currentDate()), QStringLiteral("al"),
                    QStringLiteral("Al giorno"));
    for (QDateEdit* d : {m_dal, m_al}) {
        d->setCalendarPopup(true);
        d->setDisplayFormat(QStringLiteral("dd/MM/yyyy"));
    }
    auto* etDal = new QLabel(QStringLiteral("&Dal:"));
    etDal->setBuddy(m_dal);
    auto* etAl = new QLabel(QStringLiteral("A&l:"));
    etAl->setBuddy(m_al);
    riga->addWidget(etDal);
    riga->addWidget(m_dal);
    riga->addWidget(etAl);
    riga->addWidget(m_al);
    const auto pulsante = [&](const QString& testo, const QString& nome, auto azione) {
        auto* p = nominato(new QPushButton(testo), nome, QString(testo).remove(QLatin1Char('&')));
        connect(p, &QPushButton::clicked, this, azione);
        riga->addWidget(p);
    };
    pulsante(QStringLiteral("&Calcola"), QStringLiteral("calcola"),
             [this] { calcolaStatistiche(); });
    pulsante(QStringLiteral("Esporta CS&V..."), QStringLiteral("esportaCsv"),
             [this] { esporta(false); });
    pulsante(QStringLiteral("Esporta PD&F..."), QStringLiteral("esportaPdf"),
             [this] { esporta(true); });
    riga->addStretch(1);
    colonna->addLayout(riga);
    auto* sotto = new QHBoxLayout;
    m_tabGiorni =
        tabella(QStringLiteral("tabellaGiorni"), QStringLiteral("Figure per giorno"),
                {QStringLiteral("Giorno"), QStringLiteral("Biglietti"), QStringLiteral("Chiamate"),
                 QStringLiteral("Richiami"), QStringLiteral("Mai chiamati"),
                 QStringLiteral("Attesa mediana"), QStringLiteral("Attesa 90%")});
    m_tabPostazioni =
        tabella(QStringLiteral("tabellaPostazioni"), QStringLiteral("Figure per postazione"),
                {QStringLiteral("Postazione"), QStringLiteral("Chiamate"),
                 QStringLiteral("Attesa mediana"), QStringLiteral("Al banco")});
    sotto->addWidget(m_tabGiorni, 3);
    sotto->addWidget(m_tabPostazioni, 2);
    colonna->addLayout(sotto, 1);
    auto* grafico = new QChart;
    grafico->setTitle(QStringLiteral("Biglietti e chiamate per ora"));
    grafico->legend()->setAlignment(Qt::AlignRight);
    grafico->setMargins(QMargins(4, 4, 4, 4));
    m_grafico = nominato(new QChartView(grafico), QStringLiteral("grafico"),
                         QStringLiteral("Biglietti e chiamate per ora"));
    m_grafico->setRenderHint(QPainter::Antialiasing);
    m_grafico->setMinimumHeight(190);
    colonna->addWidget(m_grafico);
    return pagina;
}

namespace {

// Empties the chart of its bars and axes.
void svuota(QChart* grafico) {
    grafico->removeAllSeries();
    for (QAbstractAxis* asse : grafico->axes()) {
        grafico->removeAxis(asse);
        delete asse;
    }
}

// Tickets and calls per hour of the day, as bars side by side.
void mostraOre(QChart* grafico, const statistiche::Risultato& r) {
    svuota(grafico);
    auto* biglietti = new QBarSet(QStringLiteral("Biglietti"));
    auto* chiamate = new QBarSet(QStringLiteral("Chiamate"));
    biglietti->setColor(QColor(0x90, 0xb8, 0xe0));
    chiamate->setColor(QColor(0x1f, 0x4e, 0x79));
    QStringList ore;
    int massimo = 1;
    for (int h = 0; h < 24; ++h) {
        *biglietti << r.ore[h].biglietti;
        *chiamate << r.ore[h].chiamate;
        massimo = std::max({massimo, r.ore[h].biglietti, r.ore[h].chiamate});
        ore << QString::number(h);
    }
    auto* serie = new QBarSeries;
    serie->append(biglietti);
    serie->append(chiamate);
    grafico->addSeries(serie);
    auto* asseOre = new QBarCategoryAxis;
    asseOre->append(ore);
    asseOre->setTitleText(QStringLiteral("Ora"));
    grafico->addAxis(asseOre, Qt::AlignBottom);
    serie->attachAxis(asseOre);
    auto* asseQuanti = new QValueAxis;
    asseQuanti->setLabelFormat(QStringLiteral("%d"));
    if (massimo <= 8) { // a line per unit
        asseQuanti->setRange(0, massimo);
        asseQuanti->setTickCount(massimo + 1);
    } else {
        asseQuanti->setRange(0, massimo);
        asseQuanti->applyNiceNumbers();
    }
    grafico->addAxis(asseQuanti, Qt::AlignLeft);
    serie->attachAxis(asseQuanti);
}

} // namespace

void FinestraUfficio::calcolaStatistiche() {
    if (m_archivio.isEmpty())
        return;
    const QDate dal = m_dal->date();
    const QDate al = m_al->date();
    if (al < dal) {
        stato(QStringLiteral("Il giorno finale viene prima di quello iniziale."));
        return;
    }
    auto risultato = std::make_unique<statistiche::Risultato>();
    const QString archivio = m_archivio;
    bool senzaRegistro = false;
    if (!esegui(
            [&] {
                auto registro = registro::deposito(archivio);
                if (!eServer(archivio) && !QFileInfo::exists(registro->nome())) {
                    senzaRegistro = true;
                    return;
                }
                *risultato = statistiche::calcola(*registro, dal, al);
            },
            QStringLiteral("Figure non calcolate")))
        return;
    if (senzaRegistro) {
        m_figure.reset();
        m_tabGiorni->setRowCount(0);
        m_tabPostazioni->setRowCount(0);
        svuota(m_grafico->chart());
        stato(QStringLiteral("L'archivio non ha ancora il registro: le figure vengono dal "
                             "registro che qvr-server tiene."));
        return;
    }
    const statistiche::Risultato& r = *risultato;
    m_tabGiorni->setRowCount(0);
    int i = 0;
    for (const statistiche::Giorno& g : r.giorni) {
        const QStringList valori = {
            g.data.toString(QStringLiteral("dd/MM/yyyy")),
            QString::number(g.totale.biglietti),
            QString::number(g.totale.chiamate),
            QString::number(g.totale.richiami),
            QString::number(g.totale.maiChiamati),
            statistiche::durata(g.totale.attesa.mediana, g.totale.attesa.conteggio > 0),
            statistiche::durata(g.totale.attesa.percentile90, g.totale.attesa.conteggio > 0)};
        for (int c = 0; c < valori.size(); ++c)
            cella(m_tabGiorni, i, c, valori[c]);
        ++i;
    }
    m_tabPostazioni->setRowCount(0);
    i = 0;
    for (const auto& [n, v] : r.perPostazione) {
        const QStringList valori = {
            QString::number(n), QString::number(v.chiamate),
            statistiche::durata(v.attesa.mediana, v.attesa.conteggio > 0),
            statistiche::durata(v.servizio.mediana, v.servizio.conteggio > 0)};
        for (int c = 0; c < valori.size(); ++c)
            cella(m_tabPostazioni, i, c, valori[c]);
        ++i;
    }
    mostraOre(m_grafico->chart(), r);
    m_figure = std::move(risultato);
    stato(m_figure->vuoto() ? QStringLiteral("Nessun dato nel registro per il periodo scelto.")
                            : QStringLiteral("Figure dal %1 al %2: %3 biglietti, %4 chiamate.")
                                  .arg(dal.toString(QStringLiteral("dd/MM/yyyy")),
                                       al.toString(QStringLiteral("dd/MM/yyyy")))
                                  .arg(m_figure->totale.biglietti)
                                  .arg(m_figure->totale.chiamate));
}

void FinestraUfficio::esporta(bool pdf) {
    if (!m_figure) {
        stato(QStringLiteral("Calcolare prima le figure (\"Calcola\")."));
        return;
    }
    const QString nome =
        sceltaFile(this, pdf ? QStringLiteral("Esporta PDF") : QStringLiteral("Esporta CSV"),
                   QStringLiteral("statistiche.%1").arg(pdf ? u"pdf" : u"csv"),
                   pdf ? QStringLiteral("PDF (*.pdf)") : QStringLiteral("CSV (*.csv)"));
    if (nome.isEmpty())
        return;
    const QByteArray dati =
        pdf ? statistiche::pdf(*m_figure, archivio_campo::perSchermo(m_archivio))
            : statistiche::csv(*m_figure);
    QSaveFile f(nome);
    if (!f.open(QIODevice::WriteOnly) || f.write(dati) != dati.size() || !f.commit()) {
        messaggi::mostraErrore(
            this, QStringLiteral("File non scritto"),
            ErroreQvr(Err::AccessoNegato, nome + QStringLiteral(": ") + f.errorString()));
        return;
    }
    stato(QStringLiteral("Figure esportate in %1.").arg(nome));
}

} // namespace qvr::ufficio
