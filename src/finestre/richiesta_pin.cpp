#include "finestre/richiesta_pin.h"

#include <QElapsedTimer>
#include <QInputDialog>
#include <QLineEdit>

#include <algorithm>
#include <memory>

namespace qvr {

std::function<std::optional<QString>(QWidget*)> sostitutaRichiestaPin;

std::optional<QString> chiediPin(QWidget* genitore, const QString& titolo) {
    if (sostitutaRichiestaPin)
        return sostitutaRichiestaPin(genitore);
    bool ok = false;
    const QString testo = QInputDialog::getText(genitore, titolo, QStringLiteral("PIN:"),
                                                QLineEdit::Password, {}, &ok);
    if (!ok)
        return std::nullopt;
    return testo;
}

TentativiPin::TentativiPin(Orologio orologio) : m_orologio(std::move(orologio)) {
    if (!m_orologio) {
        auto avvio = std::make_shared<QElapsedTimer>();
        avvio->start();
        m_orologio = [avvio] { return avvio->elapsed(); };
    }
}

qint64 TentativiPin::attesa() const {
    return std::max<qint64>(0, m_finoA - m_orologio());
}

void TentativiPin::errato() {
    ++m_errati;
    if (m_errati < TentativiLiberi)
        return;
    const int raddoppi = std::min(m_errati - TentativiLiberi, 20);
    m_finoA = m_orologio() + std::min(PrimaPausa << raddoppi, PausaMassima);
}

void TentativiPin::giusto() {
    m_errati = 0;
    m_finoA = 0;
}

} // namespace qvr
