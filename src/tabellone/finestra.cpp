#include "tabellone/finestra.h"

#include "archive/errori.h"
#include "finestre/campo_archivio.h"

#include <QCheckBox>
#include <QDialogButtonBox>
#include <QFormLayout>
#include <QFrame>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLineEdit>
#include <QPushButton>
#include <QSlider>
#include <QStyle>
#include <QVBoxLayout>

#include <algorithm>

namespace qvr::tabellone {

namespace {
const QString TestoArchivioNonImpostato =
    QStringLiteral("Archivio non impostato — premere F2 per indicare la cartella dell'archivio "
                   "o il server");
const QString TestoNessunaChiamata = QStringLiteral("Nessuna chiamata");
constexpr int DurataEvidenzaMs = 8000;
constexpr int RighePrecedenti = 5;

void grandezza(QWidget* w, double pixel, bool grassetto = false) {
    QFont f = w->font();
    f.setPixelSize(std::max(8, static_cast<int>(pixel)));
    f.setBold(grassetto);
    w->setFont(f);
}

QString ora(const QDateTime& t) {
    return t.toString(QStringLiteral("HH:mm"));
}
} // namespace

void EtichettaNumero::paintEvent(QPaintEvent* e) {
    QLabel::paintEvent(e);
    emit dipinto(text());
}

FinestraTabellone::FinestraTabellone(const Impostazioni& impostazioni, const QString& registro,
                                     QWidget* parent)
    : QWidget(parent) {
    setWindowTitle(QStringLiteral("QVR - Tabellone"));
    setObjectName(QStringLiteral("tabellone"));
    setStyleSheet(
        QStringLiteral("#tabellone { background: #0b1f3a; } QLabel { color: #ffffff; }"
                       "#pannello { background: #12345e; border-radius: 12px; }"
                       "#pannello[evidenza=\"true\"] { background: #f2c230; }"
                       "#pannello[evidenza=\"true\"] QLabel { color: #0b1f3a; }"
                       "#banner { background: #b3261e; color: #ffffff; padding: 8px; }"
                       "#precedenti { background: #0f2a4d; border-radius: 12px; }"
                       "QFrame[tessera=\"InCorso\"] { background: #1f6f43; border-radius: 10px; }"
                       "QFrame[tessera=\"Attesa\"] { background: #a86510; border-radius: 10px; }"
                       "QFrame[tessera=\"Assente\"] { background: #2b3a4f; border-radius: 10px; }"
                       "QFrame[tessera=\"Assente\"] QLabel { color: #9aa6b5; }"
                       "QFrame[tessera=\"Guasto\"] { background: #5a1d1a; border-radius: 10px; }"
                       "QFrame[tessera=\"Guasto\"] QLabel { color: #f3c1bc; }"
                       "#numeroGrande[vuoto=\"true\"] { color: #9aa6b5; }"
                       "#riga { color: #c8d2de; }"));
    costruisci();

    m_evidenza.setSingleShot(true);
    connect(&m_evidenza, &QTimer::timeout, this, [this] { evidenzia(false); });
    connect(&m_orologio, &QTimer::timeout, this,
            [this] { m_ora->setText(ora(QDateTime::currentDateTime())); });
    m_orologio.start(1000);
    m_ora->setText(ora(QDateTime::currentDateTime()));

    m_annunciatore = new Annunciatore(this);
    connect(m_annunciatore, &Annunciatore::statoCambiato, this, &FinestraTabellone::aggiornaStato);

    if (!registro.isEmpty()) {
        m_registro.setFileName(registro);
        if (!m_registro.open(QIODevice::WriteOnly | QIODevice::Append | QIODevice::Text))
            m_erroreImpostazioni =
                QStringLiteral("Registro non scrivibile: ") + m_registro.errorString();
    }
    applica(impostazioni);
}

void FinestraTabellone::costruisci() {
    auto* radice = new QVBoxLayout(this);
    // The fonts follow the window's size, never the other way round: no minimum size from the
    // labels, so a 1280x720 screen takes the board whole.
    radice->setSizeConstraint(QLayout::SetNoConstraint);
    auto* alto = new QHBoxLayout;
    m_titolo = new QLabel;
    m_ora = new QLabel;
    m_ora->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    alto->addWidget(m_titolo, 1);
    alto->addWidget(m_ora);
    radice->addLayout(alto);

    m_banner = new QLabel;
    m_banner->setObjectName(QStringLiteral("banner"));
    m_banner->setWordWrap(true);
    m_banner->hide();
    radice->addWidget(m_banner);

    auto* centro = new QHBoxLayout;
    centro->addWidget(costruisciPannello(), 3);
    centro->addWidget(costruisciPrecedenti(), 2);
    radice->addLayout(centro, 1);

    m_zonaTessere = new QWidget;
    new QGridLayout(m_zonaTessere);
    radice->addWidget(m_zonaTessere);

    m_riga = new QLabel;
    m_riga->setObjectName(QStringLiteral("riga"));
    radice->addWidget(m_riga);
}

QWidget* FinestraTabellone::costruisciPannello() {
    m_pannello = new QFrame;
    m_pannello->setObjectName(QStringLiteral("pannello"));
    auto* pannello = new QVBoxLayout(m_pannello);
    m_etichettaUltima = new QLabel(QStringLiteral("Ultima chiamata"));
    m_numero = new EtichettaNumero(TestoNessunaChiamata);
    m_numero->setObjectName(QStringLiteral("numeroGrande"));
    m_postazione = new QLabel;
    m_nominativo = new QLabel;
    for (QLabel* l :
         {m_etichettaUltima, static_cast<QLabel*>(m_numero), m_postazione, m_nominativo})
        l->setAlignment(Qt::AlignCenter);
    pannello->addWidget(m_etichettaUltima);
    pannello->addWidget(m_numero, 1);
    pannello->addWidget(m_postazione);
    pannello->addWidget(m_nominativo);
    return m_pannello;
}

QWidget* FinestraTabellone::costruisciPrecedenti() {
    auto* precedenti = new QFrame;
    precedenti->setObjectName(QStringLiteral("precedenti"));
    auto* listaPrecedenti = new QVBoxLayout(precedenti);
    m_intestazionePrecedenti = new QLabel(QStringLiteral("Chiamate precedenti"));
    listaPrecedenti->addWidget(m_intestazionePrecedenti);
    for (int i = 0; i < RighePrecedenti; ++i) {
        auto* l = new QLabel;
        m_precedenti.append(l);
        listaPrecedenti->addWidget(l, 1);
    }
    return precedenti;
}

void FinestraTabellone::applica(const Impostazioni& i) {
    m_impostazioni = i;
    m_titolo->setText(i.titolo);
    m_titolo->setAccessibleName(i.titolo);
    m_annunciatore->impostaVoce(i.voce, i.volume);

    // The old watch goes with its model: deleted now, so that nothing of it reaches the new one.
    delete m_sorvegliante;
    m_sorvegliante = nullptr;
    m_modello = std::make_unique<ModelloTabellone>(i.postazioni, i.nominativi);
    m_banner->hide();
    if (i.archivio.trimmed().isEmpty()) {
        // A new board: nothing to read yet, and no error to show.
        mostraBanner(TestoArchivioNonImpostato);
    } else {
        m_sorvegliante = new Sorvegliante(i.archivio, m_modello.get(), this);
        connect(m_sorvegliante, &Sorvegliante::chiamate, this, &FinestraTabellone::nuoveChiamate);
        connect(m_sorvegliante, &Sorvegliante::aggiornato, this, &FinestraTabellone::mostra);
        connect(m_sorvegliante, &Sorvegliante::errore, this, [this](int, const QString& testo) {
            mostraBanner(QStringLiteral("Archivio non raggiungibile — ") + testo);
        });
        connect(m_sorvegliante, &Sorvegliante::ripristinato, this, [this] { m_banner->hide(); });
    }

    // One tile per station shown.
    auto* griglia = static_cast<QGridLayout*>(m_zonaTessere->layout());
    for (VistaTessera& v : m_tessere)
        delete v.riquadro;
    m_tessere.clear();
    const int colonne = i.postazioni.size() > 5 ? (i.postazioni.size() + 1) / 2 : 5;
    for (int k = 0; k < i.postazioni.size(); ++k) {
        VistaTessera v;
        v.riquadro = new QFrame;
        v.riquadro->setProperty("tessera", QStringLiteral("Assente"));
        auto* l = new QVBoxLayout(v.riquadro);
        v.numero = new QLabel;
        v.didascalia = new QLabel;
        v.numero->setAlignment(Qt::AlignCenter);
        v.didascalia->setAlignment(Qt::AlignCenter);
        l->addWidget(v.numero);
        l->addWidget(v.didascalia);
        griglia->addWidget(v.riquadro, k / colonne, k % colonne);
        m_tessere.append(v);
    }
    aggiornaStato();
    scala();
    mostra();
}

void FinestraTabellone::avvia() {
    if (m_sorvegliante)
        m_sorvegliante->avvia();
}

void FinestraTabellone::mostraBanner(const QString& testo) {
    m_banner->setText(testo);
    m_banner->setAccessibleName(testo);
    m_banner->show();
}

QString FinestraTabellone::testoBanner() const {
    return m_banner->isVisible() || !m_banner->isHidden() ? m_banner->text() : QString();
}

void FinestraTabellone::mostraAvviso(const QString& testo) {
    m_erroreImpostazioni = testo;
    aggiornaStato();
}

void FinestraTabellone::aggiornaStato() {
    QStringList parti;
    if (!m_annunciatore->stato().isEmpty())
        parti << m_annunciatore->stato();
    if (!m_erroreImpostazioni.isEmpty())
        parti << m_erroreImpostazioni;
    // A station's record that cannot be read: its error, named, for whoever looks after the
    // board (the tile itself only says "Errore" and the number).
    const QVector<Tessera> tessere = m_modello ? m_modello->tessere() : QVector<Tessera>{};
    for (const Tessera& t : tessere)
        if (t.guasto.numero != 0)
            parti << QStringLiteral("Postazione %1: %2").arg(t.postazione).arg(t.guasto.testo);
    parti << QStringLiteral("F2: impostazioni");
    m_riga->setText(parti.join(QStringLiteral("   ·   ")));
    m_riga->setAccessibleName(m_riga->text());
}

void FinestraTabellone::nuoveChiamate(const QVector<Chiamata>& c) {
    for (const Chiamata& x : c) {
        m_annunciatore->annuncia(x);
        if (m_registro.isOpen()) {
            m_registro.write(QStringLiteral("%1 %2\n").arg(x.postazione).arg(x.numero).toUtf8());
            m_registro.flush();
        }
    }
    evidenzia(true);
    m_evidenza.start(DurataEvidenzaMs);
    mostra();
}

void FinestraTabellone::evidenzia(bool accesa) {
    m_evidenziata = accesa;
    m_pannello->setProperty("evidenza", accesa);
    m_pannello->style()->unpolish(m_pannello);
    m_pannello->style()->polish(m_pannello);
    for (QObject* o : m_pannello->children())
        if (auto* w = qobject_cast<QWidget*>(o))
            w->style()->polish(w);
}

void FinestraTabellone::mostra() {
    const auto& ultime = m_modello->ultime();
    if (!ultime.empty()) {
        const Chiamata& u = ultime.front();
        m_numero->setText(QString::number(u.numero));
        m_postazione->setText(QStringLiteral("Postazione %1").arg(u.postazione));
        m_nominativo->setText(u.nominativo);
        m_nominativo->setVisible(!u.nominativo.isEmpty());
        m_numero->setAccessibleName(QStringLiteral("Ultima chiamata: numero %1, Postazione %2")
                                        .arg(u.numero)
                                        .arg(u.postazione));
    } else {
        // Before the first call: a word in place of the number, not a dash the size of one.
        m_numero->setText(TestoNessunaChiamata);
        m_postazione->setText(QString());
        m_nominativo->hide();
        m_numero->setAccessibleName(TestoNessunaChiamata);
    }
    if (m_numero->property("vuoto").toBool() != ultime.empty()) {
        m_numero->setProperty("vuoto", ultime.empty());
        m_numero->style()->unpolish(m_numero);
        m_numero->style()->polish(m_numero);
        scala();
    }
    m_postazione->setAccessibleName(m_postazione->text());
    for (int k = 0; k < m_precedenti.size(); ++k) {
        QLabel* l = m_precedenti[k];
        const size_t i = static_cast<size_t>(k) + 1;
        if (i < ultime.size()) {
            const Chiamata& c = ultime[i];
            l->setText(
                QStringLiteral("%1   %2   Postazione %3")
                    .arg(ora(c.ora), QString::number(c.numero).rightJustified(4, QLatin1Char(' ')))
                    .arg(c.postazione));
            l->setAccessibleName(QStringLiteral("Numero %1, Postazione %2, ore %3")
                                     .arg(c.numero)
                                     .arg(c.postazione)
                                     .arg(ora(c.ora)));
        } else {
            l->clear();
            l->setAccessibleName(QString());
        }
    }
    mostraTessere();
    aggiornaStato();
}

void FinestraTabellone::mostraTessere() {
    const QVector<Tessera> tessere = m_modello->tessere();
    for (int k = 0; k < tessere.size() && k < m_tessere.size(); ++k) {
        const Tessera& t = tessere[k];
        VistaTessera& v = m_tessere[k];
        const bool guasto = t.guasto.numero != 0;
        const char* nome = guasto                             ? "Guasto"
                           : t.stato == StatoTessera::InCorso ? "InCorso"
                           : t.stato == StatoTessera::Attesa  ? "Attesa"
                                                              : "Assente";
        if (v.riquadro->property("tessera").toString() != QLatin1String(nome)) {
            v.riquadro->setProperty("tessera", QString::fromLatin1(nome));
            v.riquadro->style()->unpolish(v.riquadro);
            v.riquadro->style()->polish(v.riquadro);
            v.numero->style()->polish(v.numero);
            v.didascalia->style()->polish(v.didascalia);
        }
        const bool conNumero = !guasto && t.stato != StatoTessera::Assente;
        v.numero->setText(conNumero ? QString::number(t.numero) : QStringLiteral("—"));
        const QString statoTessera =
            guasto ? QStringLiteral("Errore %1").arg(t.guasto.numero) : testoStato(t.stato);
        QString didascalia = QStringLiteral("Postazione %1").arg(t.postazione);
        if (!t.nominativo.isEmpty())
            didascalia += QStringLiteral(" · ") + t.nominativo;
        didascalia += QLatin1Char('\n') + statoTessera;
        v.didascalia->setText(didascalia);
        v.riquadro->setToolTip(guasto ? t.guasto.testo : QString());
        const QString accessibile =
            conNumero ? QStringLiteral("Postazione %1: numero %2, %3")
                            .arg(t.postazione)
                            .arg(t.numero)
                            .arg(statoTessera)
            : guasto ? QStringLiteral("Postazione %1: %2").arg(t.postazione).arg(t.guasto.testo)
                     : QStringLiteral("Postazione %1: %2").arg(t.postazione).arg(statoTessera);
        v.riquadro->setAccessibleName(accessibile);
        v.numero->setAccessibleName(accessibile);
    }
}

void FinestraTabellone::scala() {
    // One unit is a pixel of a 1920x1080 screen; everything follows the smaller ratio.
    const double u = std::min(width() / 1920.0, height() / 1080.0);
    grandezza(m_titolo, 56 * u, true);
    grandezza(m_ora, 56 * u, true);
    grandezza(m_banner, 34 * u, true);
    grandezza(m_etichettaUltima, 44 * u);
    grandezza(m_numero, (m_numero->property("vuoto").toBool() ? 96 : 330) * u, true);
    grandezza(m_postazione, 96 * u, true);
    grandezza(m_nominativo, 48 * u);
    grandezza(m_intestazionePrecedenti, 40 * u);
    for (QLabel* l : m_precedenti) {
        grandezza(l, 52 * u, true);
        l->setFont([&] {
            QFont f = l->font();
            f.setStyleHint(QFont::Monospace);
            f.setFamily(QStringLiteral("DejaVu Sans Mono"));
            return f;
        }());
    }
    for (VistaTessera& v : m_tessere) {
        grandezza(v.numero, 64 * u, true);
        grandezza(v.didascalia, 26 * u);
    }
    grandezza(m_riga, 22 * u);
}

void FinestraTabellone::resizeEvent(QResizeEvent* e) {
    QWidget::resizeEvent(e);
    scala();
}

void FinestraTabellone::keyPressEvent(QKeyEvent* e) {
    if (e->key() == Qt::Key_F2) {
        apriImpostazioni();
        return;
    }
    if (e->key() == Qt::Key_F11) {
        isFullScreen() ? showNormal() : showFullScreen();
        return;
    }
    if (e->key() == Qt::Key_Q && e->modifiers().testFlag(Qt::ControlModifier)) {
        close();
        return;
    }
    QWidget::keyPressEvent(e);
}

void FinestraTabellone::apriImpostazioni() {
    FinestraImpostazioni f(m_impostazioni, this);
    if (f.exec() != QDialog::Accepted)
        return;
    const Impostazioni nuove = f.impostazioni();
    m_erroreImpostazioni.clear();
    try {
        nuove.salva();
    } catch (const ErroreQvr& e) {
        m_erroreImpostazioni = QStringLiteral("Impostazioni non salvate: ") + e.testoCompleto();
    }
    applica(nuove);
    avvia();
}

FinestraImpostazioni::FinestraImpostazioni(const Impostazioni& i, QWidget* parent)
    : QDialog(parent), m_base(i) {
    setWindowTitle(QStringLiteral("Impostazioni del tabellone"));
    setObjectName(QStringLiteral("impostazioniTabellone"));
    // The board's light-on-dark labels are not for this window.
    setStyleSheet(QStringLiteral("QLabel { color: palette(window-text); }"));
    auto* modulo = new QFormLayout(this);
    m_archivio = new CampoArchivio(i.archivio);
    QLineEdit* testoArchivio = m_archivio->testo();
    testoArchivio->setPlaceholderText(
        QStringLiteral("cartella, oppure postgresql://server/ufficio"));
    // Wide enough for its whole hint, with room for the margins and the cursor.
    const QFontMetrics misure = testoArchivio->fontMetrics();
    testoArchivio->setMinimumWidth(misure.horizontalAdvance(testoArchivio->placeholderText()) +
                                   4 * misure.averageCharWidth());
    modulo->addRow(QStringLiteral("Cartella dell'archivio:"), m_archivio);
    m_titolo = new QLineEdit(i.titolo);
    m_titolo->setAccessibleName(QStringLiteral("Titolo"));
    modulo->addRow(QStringLiteral("Titolo:"), m_titolo);
    auto* postazioni = new QGridLayout;
    for (int n = 1; n <= nomi::NumeroPostazioni; ++n) {
        auto* c = new QCheckBox(QString::number(n));
        c->setAccessibleName(QStringLiteral("Postazione %1").arg(n));
        c->setChecked(i.postazioni.contains(n));
        postazioni->addWidget(c, (n - 1) / 5, (n - 1) % 5);
        m_postazioni.append(c);
    }
    modulo->addRow(QStringLiteral("Postazioni mostrate:"), postazioni);
    m_nominativi = new QCheckBox(QStringLiteral("Mostra il nome dell'operatore"));
    m_nominativi->setChecked(i.nominativi);
    modulo->addRow(m_nominativi);
    m_voce = new QCheckBox(QStringLiteral("Annuncio vocale delle chiamate"));
    m_voce->setChecked(i.voce);
    modulo->addRow(m_voce);
    m_volume = new QSlider(Qt::Horizontal);
    m_volume->setRange(0, 100);
    m_volume->setValue(i.volume);
    m_volume->setAccessibleName(QStringLiteral("Volume"));
    modulo->addRow(QStringLiteral("Volume:"), m_volume);
    auto* pulsanti = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel);
    pulsanti->button(QDialogButtonBox::Cancel)->setText(QStringLiteral("Annulla"));
    // A server address is checked before it is saved.
    connect(pulsanti, &QDialogButtonBox::accepted, this, [this] {
        if (m_archivio->controlla())
            accept();
    });
    connect(pulsanti, &QDialogButtonBox::rejected, this, &QDialog::reject);
    modulo->addRow(pulsanti);
}

Impostazioni FinestraImpostazioni::impostazioni() const {
    Impostazioni i = m_base;
    i.archivio = m_archivio->valore();
    i.titolo = m_titolo->text();
    i.postazioni.clear();
    for (int n = 1; n <= nomi::NumeroPostazioni; ++n)
        if (m_postazioni[n - 1]->isChecked())
            i.postazioni.append(n);
    if (i.postazioni.isEmpty())
        i.postazioni = m_base.postazioni;
    i.nominativi = m_nominativi->isChecked();
    i.voce = m_voce->isChecked();
    i.volume = m_volume->value();
    return i;
}

} // namespace qvr::tabellone
