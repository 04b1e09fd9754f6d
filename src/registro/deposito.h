#pragma once
// The journal's engine, chosen once per archive: for a folder the file Registro.mdb and a flock
// on Registro.lock beside it; for a server archive (postgresql://...) the schema `registro` of
// the office's database and a session advisory lock on the server. Nothing else in the recorder,
// the figures or the tools asks which engine an archive uses.
#include "registro/registro.h"

#include <QString>

#include <memory>

namespace qvr::registro {

// The journal of an archive (a folder, or a server URI).
std::unique_ptr<Deposito> deposito(const QString& archivio);

// One recorder per archive: the lock a recorder holds for its whole life.
class Blocco {
public:
    enum class Esito {
        Preso,    // this process holds it now
        Occupato, // another recorder holds it
        Errore,   // it could not even be tried: errore() tells why
    };
    virtual ~Blocco() = default;
    // Tries once, without waiting.
    virtual Esito prendi() = 0;
    // Whether it is still held: false once the server connection that held it is gone (another
    // recorder may hold it by now).
    virtual bool tenuto() = 0;
    virtual void rilascia() = 0;
    // The last failure of prendi(), as an error (number and detail).
    virtual ErroreQvr errore() const = 0;
};

std::unique_ptr<Blocco> blocco(const QString& archivio);

// Copies the journal of the archive `da` to the archive `a` (any engines), as it stands at one
// moment, keeping every event's sequence number and the recorder's state, then checks that both
// hold the same events. Between two folders the file is copied whole (the engine's online
// backup, Registro::copia); otherwise the events are copied one by one, and a destination that
// already holds events is refused (3000: a history is never overwritten). Returns how many
// events were copied. The source is only read.
qint64 copia(const QString& da, const QString& a);

} // namespace qvr::registro
