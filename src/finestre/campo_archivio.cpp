#include "finestre/campo_archivio.h"

#include "finestre/messaggi.h"

#include "archive/errori.h"
#include "archive/percorsi_archivio.h"
#include "archive/server.h"

#include <QDir>
#include <QFileDialog>
#include <QHBoxLayout>
#include <QInputDialog>
#include <QLineEdit>
#include <QPushButton>

namespace qvr::archivio_campo {

const QString TestoServerNonValido = QStringLiteral("Indirizzo del server non valido !");

std::function<QString(QWidget*, const QString&)> sceltaCartella;

QString scegliCartella(QWidget* genitore, const QString& iniziale) {
    const QString scelta =
        sceltaCartella
            ? sceltaCartella(genitore, iniziale)
            : QFileDialog::getExistingDirectory(genitore, QStringLiteral("Selezionare la cartella"),
                                                iniziale, QFileDialog::ShowDirsOnly);
    // A drive root keeps its trailing separator.
    return scelta.isEmpty() ? QString() : QDir::toNativeSeparators(scelta);
}

QString chiediServer(QWidget* genitore, const QString& attuale) {
    bool ok = false;
    const QString scelta =
        QInputDialog::getText(genitore, QStringLiteral("Archivio su server"),
                              QStringLiteral("Indirizzo del server PostgreSQL\n"
                                             "(postgresql://utente@server:5432/ufficio):"),
                              QLineEdit::Normal, attuale, &ok);
    return ok ? scelta : QString();
}

QString motivoServerNonValido(const QString& scelta, const QString& salvato) {
    if (!eServer(scelta))
        return QStringLiteral("l'indirizzo deve iniziare con postgresql:// o postgres://");
    try {
        const server::Parametri p = server::analizzaUri(scelta);
        // The masked password of the address offered, kept in an address changed otherwise,
        // would become the password itself.
        bool nascosta = p.password == QLatin1String("***");
        for (const auto& [chiave, valore] : p.opzioni)
            nascosta =
                nascosta || (chiave == QLatin1String("password") && valore == QLatin1String("***"));
        if (nascosta && scelta != salvato)
            return QStringLiteral("la password nascosta (***) va scritta per intero");
    } catch (const ErroreQvr& e) {
        return e.testoCompleto();
    }
    return {};
}

QString perSchermo(const QString& valore) {
    return eServer(valore) ? server::uriPerMessaggi(valore) : valore;
}

} // namespace qvr::archivio_campo

namespace qvr {

CampoArchivio::CampoArchivio(const QString& valore, QWidget* parent)
    : QWidget(parent), m_salvato(valore) {
    m_testo = new QLineEdit(valore);
    m_testo->setObjectName(QStringLiteral("campoArchivio"));
    m_testo->setAccessibleName(QStringLiteral("Cartella dell'archivio"));
    m_sfoglia = new QPushButton(QStringLiteral("&Sfoglia..."));
    m_sfoglia->setObjectName(QStringLiteral("sfogliaArchivio"));
    connect(m_sfoglia, &QPushButton::clicked, this, [this] {
        const QString scelta = archivio_campo::scegliCartella(this, m_testo->text());
        if (!scelta.isEmpty())
            m_testo->setText(scelta);
    });
    auto* riga = new QHBoxLayout(this);
    riga->setContentsMargins(0, 0, 0, 0);
    riga->addWidget(m_testo, 1);
    riga->addWidget(m_sfoglia);
}

QString CampoArchivio::valore() const {
    return m_testo->text();
}

bool CampoArchivio::controlla() {
    const QString scelta = m_testo->text().trimmed();
    if (!eServer(scelta))
        return true;
    const QString motivo = archivio_campo::motivoServerNonValido(scelta, m_salvato.trimmed());
    if (motivo.isEmpty())
        return true;
    messaggi::mostra(this, messaggi::Icona::Avviso, QStringLiteral("Archivio su server"),
                     archivio_campo::TestoServerNonValido + QLatin1Char('\n') + motivo);
    m_testo->setFocus();
    return false;
}

} // namespace qvr
