#pragma once
// Shared by the tests of the office's journal and of its recorder.

#include "registro/registro.h"

#include <QString>
#include <QStringList>

#include <vector>

namespace qvr::test {

// The journal's events in short form: "b1:3" ticket 3 of P1, "c1:2" call of 2 at station 1,
// "r1:2" a recall, "s2:1" a single-numbering call at station 2, "a1:2" wait, "x1" absent,
// "z1" counter 1 back to 0; with `ancheRegistratore` the recorder's own events by name.
inline QString breve(const std::vector<registro::Evento>& v, bool ancheRegistratore = false) {
    using registro::nomeTipo;
    using registro::Tipo;
    QStringList s;
    for (const registro::Evento& e : v) {
        switch (e.tipo) {
        case Tipo::Biglietto:
            s << QStringLiteral("b%1:%2").arg(e.sequenza).arg(e.numero);
            break;
        case Tipo::Chiamata:
            s << QStringLiteral("%1%2:%3")
                     .arg(QChar(e.singola    ? u's'
                                : e.richiamo ? u'r'
                                             : u'c'))
                     .arg(e.postazione)
                     .arg(e.numero);
            break;
        case Tipo::Attesa:
            s << QStringLiteral("a%1:%2").arg(e.postazione).arg(e.numero);
            break;
        case Tipo::Assente:
            s << QStringLiteral("x%1").arg(e.postazione);
            break;
        case Tipo::Azzeramento:
            s << QStringLiteral("z%1").arg(e.sequenza);
            break;
        default:
            if (ancheRegistratore)
                s << nomeTipo(e.tipo);
        }
    }
    return s.join(u' ');
}

} // namespace qvr::test
