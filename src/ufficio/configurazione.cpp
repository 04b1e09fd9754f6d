#include "ufficio/configurazione.h"

#include "archive/cursore.h"
#include "archive/errori.h"
#include "archive/nomi.h"
#include "archive/percorsi_archivio.h"
#include "ufficio/transazione.h"

#include <limits>

namespace qvr::ufficio {

Campo Campo::postoId(int n) {
    return {nomi::FileQVR, nomi::TabPostazioneUtente, nomi::campoPostoID(n), Tipo::Long};
}
Campo Campo::postoModo(int n) {
    return {nomi::FileQVR, nomi::TabPostazioneUtente, nomi::campoPostoSS(n), Tipo::Testo};
}
Campo Campo::dopo99Standard() {
    return {nomi::FileQVR, nomi::TabConfigurazione, nomi::CampoNovantanoveStandard, Tipo::SiNo};
}
Campo Campo::dopo99Singola() {
    return {nomi::FileQVR, nomi::TabConfigurazione, nomi::CampoNovantanoveSingle, Tipo::SiNo};
}
Campo Campo::totem() {
    // Opened as the stations' launcher opens it.
    return {nomi::FileTotem, nomi::querySelezionaTutto(nomi::TabConfigurazione), nomi::CampoRHDSN,
            Tipo::Testo};
}
Campo Campo::display() {
    return {nomi::FileQVRB, nomi::TabFE, nomi::CampoFEAcceso, Tipo::SiNo};
}

QVariant normalizza(const QVariant& grezzo, Tipo tipo) {
    switch (tipo) {
    case Tipo::Long:
        return QVariant::fromValue<qint32>(grezzo.isNull() ? 0 : valori::comeLong(grezzo));
    case Tipo::Testo:
        return QVariant(grezzo.isNull() ? QString() : valori::comeTesto(grezzo));
    case Tipo::SiNo:
        return QVariant(valori::comeSiNo(grezzo));
    }
    return {};
}

QVariant Configurazione::valore(const Campo& c) const {
    for (int n = 1; n <= nomi::NumeroPostazioni; ++n) {
        if (c.nome == nomi::campoPostoID(n))
            return QVariant::fromValue<qint32>(postazioni[n - 1].idUtente);
        if (c.nome == nomi::campoPostoSS(n))
            return QVariant(postazioni[n - 1].modo);
    }
    if (c.nome == nomi::CampoNovantanoveStandard)
        return dopo99Standard;
    if (c.nome == nomi::CampoNovantanoveSingle)
        return dopo99Singola;
    if (c.nome == nomi::CampoRHDSN)
        return totem;
    if (c.nome == nomi::CampoFEAcceso)
        return display;
    return {};
}

void Configurazione::imposta(const Campo& c, const QVariant& v) {
    for (int n = 1; n <= nomi::NumeroPostazioni; ++n) {
        if (c.nome == nomi::campoPostoID(n))
            postazioni[n - 1].idUtente = v.value<qint32>();
        if (c.nome == nomi::campoPostoSS(n))
            postazioni[n - 1].modo = v.toString();
    }
    if (c.nome == nomi::CampoNovantanoveStandard)
        dopo99Standard = v.toBool();
    if (c.nome == nomi::CampoNovantanoveSingle)
        dopo99Singola = v.toBool();
    if (c.nome == nomi::CampoRHDSN)
        totem = v.toString();
    if (c.nome == nomi::CampoFEAcceso)
        display = v.toBool();
}

QString testoValore(const Configurazione& conf, const Campo& c, const QVariant& v) {
    if (c.tipo == Tipo::SiNo)
        return v.toBool() ? QStringLiteral("sì") : QStringLiteral("no");
    if (c.nome == nomi::CampoRHDSN)
        return v.toString() == TotemSi ? QStringLiteral("in uso") : QStringLiteral("non in uso");
    if (c.tipo == Tipo::Testo)
        return v.toString() == ModoSingolo ? QStringLiteral("Numerazione singola")
                                           : QStringLiteral("Standard");
    const qint32 id = v.value<qint32>();
    if (const Utente* u = conf.utente(id))
        return QStringLiteral("%1 (id %2)").arg(u->nominativo).arg(id);
    return QStringLiteral("nessun utente (id %1)").arg(id);
}

QString nomeCampo(const Campo& c) {
    for (int n = 1; n <= nomi::NumeroPostazioni; ++n) {
        if (c.nome == nomi::campoPostoID(n))
            return QStringLiteral("l'utente della postazione %1").arg(n);
        if (c.nome == nomi::campoPostoSS(n))
            return QStringLiteral("la numerazione della postazione %1").arg(n);
    }
    if (c.nome == nomi::CampoNovantanoveStandard)
        return QStringLiteral("il ritorno a 1 dopo il 99 della numerazione standard");
    if (c.nome == nomi::CampoNovantanoveSingle)
        return QStringLiteral("il ritorno a 1 dopo il 99 della numerazione singola");
    if (c.nome == nomi::CampoRHDSN)
        return QStringLiteral("il totem");
    return QStringLiteral("il display (FE)");
}

QVector<int> Configurazione::postazioniDi(qint32 id) const {
    QVector<int> elenco;
    for (int n = 1; n <= nomi::NumeroPostazioni; ++n)
        if (postazioni[n - 1].idUtente == id)
            elenco << n;
    return elenco;
}

const Utente* Configurazione::utente(qint32 id) const {
    for (const Utente& u : utenti)
        if (u.id == id)
            return &u;
    return nullptr;
}

namespace {

// The one-row table's first row, read through the stations' own cursor.
template <typename F>
void leggiRiga(const QString& archivio, const QString& file, const QString& origine, F leggi) {
    Cursore c;
    c.impostaDatabase(unisciPercorso(archivio, file));
    c.impostaOrigine(origine);
    c.aggiorna();
    leggi(c);
    c.chiudi();
}

QVariant valoreDaScrivere(const QVariant& v, Tipo tipo) {
    switch (tipo) {
    case Tipo::Long:
        return QVariant::fromValue<qint32>(v.value<qint32>());
    case Tipo::Testo:
        return QVariant(v.toString());
    case Tipo::SiNo:
        return QVariant(v.toBool());
    }
    return {};
}

// The users and the first row of PostazioneUtente, read inside the transaction `t`.
struct Letti {
    QVector<Utente> utenti;
    std::array<qint32, nomi::NumeroPostazioni> ids{};
    const Utente* trova(qint32 id) const {
        for (const Utente& u : utenti)
            if (u.id == id)
                return &u;
        return nullptr;
    }
    QVector<int> postazioniDi(qint32 id) const {
        QVector<int> elenco;
        for (int n = 1; n <= nomi::NumeroPostazioni; ++n)
            if (ids[n - 1] == id)
                elenco << n;
        return elenco;
    }
};

QVector<Utente> leggiUtenti(Transazione& t) {
    QVector<Utente> utenti;
    const auto righe = t.righe(QStringLiteral("SELECT %1, %2 FROM %3 ORDER BY %1%4")
                                   .arg(t.campo(nomi::CampoId), t.campo(nomi::CampoNominativo),
                                        t.tabella(nomi::TabUtenti), t.perModifica()),
                               {}, nomi::TabUtenti);
    for (const QSqlRecord& r : righe)
        utenti.push_back({valori::comeLong(r.value(0), nomi::CampoId),
                          r.value(1).isNull() ? QString() : r.value(1).toString()});
    return utenti;
}

// The condition that names the first row of a table, as the cursor takes it.
QString primaRiga(Transazione& t, const QString& tabella) {
    const QString chiave =
        t.suServer() ? t.campo(QStringLiteral("qvr_riga")) : QStringLiteral("rowid");
    return QStringLiteral("%1 = (SELECT min(%1) FROM %2)").arg(chiave, t.tabella(tabella));
}

Letti leggiPerModifica(Transazione& t) {
    Letti l;
    l.utenti = leggiUtenti(t);
    const auto righe = t.righe(QStringLiteral("SELECT * FROM %1 WHERE %2%3")
                                   .arg(t.tabella(nomi::TabPostazioneUtente),
                                        primaRiga(t, nomi::TabPostazioneUtente), t.perModifica()),
                               {}, nomi::TabPostazioneUtente);
    if (righe.isEmpty())
        throw ErroreQvr(Err::NessunRecordCorrente, nomi::TabPostazioneUtente);
    for (int n = 1; n <= nomi::NumeroPostazioni; ++n) {
        const QString nome = nomi::campoPostoID(n);
        if (righe[0].indexOf(nome) < 0)
            throw ErroreQvr(Err::CampoNonTrovato, nomi::TabPostazioneUtente + u'.' + nome);
        l.ids[n - 1] = normalizza(righe[0].value(nome), Tipo::Long).value<qint32>();
    }
    return l;
}

bool comeVisto(const Letti& l, const Utente& visto) {
    const Utente* u = l.trova(visto.id);
    return u && *u == visto;
}

} // namespace

Configurazione leggiConfigurazione(const QString& archivio) {
    Configurazione conf;
    leggiRiga(archivio, nomi::FileQVR, nomi::TabPostazioneUtente, [&](Cursore& c) {
        for (int n = 1; n <= nomi::NumeroPostazioni; ++n) {
            conf.postazioni[n - 1].idUtente =
                normalizza(c.campo(nomi::campoPostoID(n)), Tipo::Long).value<qint32>();
            conf.postazioni[n - 1].modo =
                normalizza(c.campo(nomi::campoPostoSS(n)), Tipo::Testo).toString();
        }
    });
    leggiRiga(archivio, nomi::FileQVR, nomi::TabConfigurazione, [&](Cursore& c) {
        conf.dopo99Standard = c.campoSiNo(nomi::CampoNovantanoveStandard);
        conf.dopo99Singola = c.campoSiNo(nomi::CampoNovantanoveSingle);
    });
    const Campo totem = Campo::totem();
    leggiRiga(archivio, totem.file, totem.origine, [&](Cursore& c) {
        conf.totem = normalizza(c.campo(totem.nome), Tipo::Testo).toString();
    });
    const Campo display = Campo::display();
    leggiRiga(archivio, display.file, display.origine,
              [&](Cursore& c) { conf.display = c.campoSiNo(display.nome); });
    Transazione t(archivio, nomi::FileQVR, false);
    conf.utenti = leggiUtenti(t);
    return conf;
}

Esito scriviCampo(const QString& archivio, const Campo& campo, const QVariant& visto,
                  const QVariant& nuovo) {
    Cursore c;
    c.impostaDatabase(unisciPercorso(archivio, campo.file));
    c.impostaOrigine(campo.origine);
    c.aggiorna(true);
    const QVariant attuale = normalizza(c.campo(campo.nome), campo.tipo);
    if (attuale != normalizza(visto, campo.tipo)) {
        c.chiudi();
        return {false, attuale};
    }
    c.modifica();
    c.assegna(campo.nome, valoreDaScrivere(nuovo, campo.tipo));
    c.salva();
    c.chiudi();
    return {true, normalizza(nuovo, campo.tipo)};
}

QString motivoNominativoNonValido(const QString& nominativo) {
    if (nominativo.trimmed().isEmpty())
        return QStringLiteral("Il nominativo è vuoto.");
    if (nominativo.size() > LunghezzaNominativo)
        return QStringLiteral("Il nominativo è lungo %1 caratteri: il campo ne contiene al "
                              "massimo %2.")
            .arg(nominativo.size())
            .arg(LunghezzaNominativo);
    for (const QChar ch : nominativo)
        if (ch.category() == QChar::Other_Control || ch.category() == QChar::Other_Format ||
            ch.category() == QChar::Other_Surrogate || ch.category() == QChar::Other_NotAssigned ||
            ch == QChar::LineSeparator || ch == QChar::ParagraphSeparator)
            return QStringLiteral("Il nominativo contiene un carattere che il campo non può "
                                  "contenere (a capo, tabulazione o carattere di controllo).");
    return {};
}

QString motivoIdNonValido(qint64 id) {
    if (id < 1 || id > std::numeric_limits<qint32>::max())
        return QStringLiteral("L'id deve essere un numero da 1 a %1.")
            .arg(std::numeric_limits<qint32>::max());
    return {};
}

EsitoUtente aggiungiUtente(const QString& archivio, const Utente& nuovo) {
    if (const QString m = motivoIdNonValido(nuovo.id); !m.isEmpty())
        throw ErroreQvr(Err::TipoNonCorrispondente, m);
    if (const QString m = motivoNominativoNonValido(nuovo.nominativo); !m.isEmpty())
        throw ErroreQvr(Err::TipoNonCorrispondente, m);
    Transazione t(archivio, nomi::FileQVR, true);
    if (leggiPerModifica(t).trova(nuovo.id))
        return {EsitoUtente::IdInUso};
    t.esegui(QStringLiteral("INSERT INTO %1 (%2, %3, %4, %5) VALUES (?, ?, ?, ?)")
                 .arg(t.tabella(nomi::TabUtenti), t.campo(nomi::CampoId),
                      t.campo(nomi::CampoNominativo), t.campo(nomi::CampoUtilizzaNelClient),
                      t.campo(nomi::CampoUtilizzaOrarioComeNumero)),
             {QVariant::fromValue<qint32>(nuovo.id), nuovo.nominativo, 0, 0}, nomi::TabUtenti);
    t.conferma();
    return {};
}

EsitoUtente rinominaUtente(const QString& archivio, const Utente& visto, const QString& nome) {
    if (const QString m = motivoNominativoNonValido(nome); !m.isEmpty())
        throw ErroreQvr(Err::TipoNonCorrispondente, m);
    Transazione t(archivio, nomi::FileQVR, true);
    if (!comeVisto(leggiPerModifica(t), visto))
        return {EsitoUtente::Cambiato};
    t.esegui(QStringLiteral("UPDATE %1 SET %2 = ? WHERE %3 = ?")
                 .arg(t.tabella(nomi::TabUtenti), t.campo(nomi::CampoNominativo),
                      t.campo(nomi::CampoId)),
             {nome, QVariant::fromValue<qint32>(visto.id)}, nomi::TabUtenti);
    t.conferma();
    return {};
}

EsitoUtente cambiaIdUtente(const QString& archivio, const Utente& visto,
                           const QVector<int>& postazioniViste, qint32 nuovoId) {
    if (const QString m = motivoIdNonValido(nuovoId); !m.isEmpty())
        throw ErroreQvr(Err::TipoNonCorrispondente, m);
    Transazione t(archivio, nomi::FileQVR, true);
    const Letti l = leggiPerModifica(t);
    if (!comeVisto(l, visto) || l.postazioniDi(visto.id) != postazioniViste)
        return {EsitoUtente::Cambiato};
    if (nuovoId == visto.id)
        return {};
    if (l.trova(nuovoId))
        return {EsitoUtente::IdInUso};
    t.esegui(QStringLiteral("UPDATE %1 SET %2 = ? WHERE %2 = ?")
                 .arg(t.tabella(nomi::TabUtenti), t.campo(nomi::CampoId)),
             {QVariant::fromValue<qint32>(nuovoId), QVariant::fromValue<qint32>(visto.id)},
             nomi::TabUtenti);
    for (const int n : postazioniViste)
        t.esegui(QStringLiteral("UPDATE %1 SET %2 = ? WHERE %3")
                     .arg(t.tabella(nomi::TabPostazioneUtente), t.campo(nomi::campoPostoID(n)),
                          primaRiga(t, nomi::TabPostazioneUtente)),
                 {QVariant::fromValue<qint32>(nuovoId)}, nomi::TabPostazioneUtente);
    t.conferma();
    return {};
}

EsitoUtente rimuoviUtente(const QString& archivio, const Utente& visto,
                          const QVector<int>& postazioniViste) {
    Transazione t(archivio, nomi::FileQVR, true);
    const Letti l = leggiPerModifica(t);
    if (!comeVisto(l, visto) || l.postazioniDi(visto.id) != postazioniViste)
        return {EsitoUtente::Cambiato};
    t.esegui(QStringLiteral("DELETE FROM %1 WHERE %2 = ?")
                 .arg(t.tabella(nomi::TabUtenti), t.campo(nomi::CampoId)),
             {QVariant::fromValue<qint32>(visto.id)}, nomi::TabUtenti);
    t.conferma();
    return {};
}

} // namespace qvr::ufficio
