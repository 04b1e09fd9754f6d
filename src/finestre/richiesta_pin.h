#pragma once
// The PIN that keeps a program's settings for the office: the prompt, and the growing pause
// after wrong tries.

#include <QString>

#include <functional>
#include <optional>

class QWidget;

namespace qvr {

// Asks the PIN in a masked text box titled `titolo`: the PIN typed, or nothing when cancelled.
// Tests replace `sostitutaRichiestaPin`; when empty the box is shown.
std::optional<QString> chiediPin(QWidget* genitore,
                                 const QString& titolo = QStringLiteral("Impostazioni"));
extern std::function<std::optional<QString>(QWidget*)> sostitutaRichiestaPin;

// Wrong PIN tries make the next one wait: none for the first TentativiLiberi, then 5 s, doubled
// at every further wrong try up to 15 minutes. The right PIN starts again from nothing.
class TentativiPin {
public:
    // Milliseconds of a monotonic clock (tests give their own).
    using Orologio = std::function<qint64()>;
    explicit TentativiPin(Orologio orologio = {});

    static constexpr int TentativiLiberi = 3;
    static constexpr qint64 PrimaPausa = 5000;
    static constexpr qint64 PausaMassima = 15 * 60 * 1000;

    // Milliseconds before the next try is taken; 0 when it is taken now.
    qint64 attesa() const;
    void errato();
    void giusto();
    int errati() const { return m_errati; }

private:
    Orologio m_orologio;
    int m_errati = 0;
    qint64 m_finoA = 0;
};

} // namespace qvr
