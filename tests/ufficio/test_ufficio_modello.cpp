// The manager's models on either engine: the values written as the stations read them, the
// check of the value replaced, the users, the day's counts and the archive's check.

#include "ufficio_prova.h"

#include "archive/errori.h"
#include "archive/nomi.h"
#include "registro/deposito.h"
#include "ufficio/manutenzione.h"
#include "ufficio/oggi.h"

#include <QtTest>

using namespace qvr;
using namespace qvr::ufficio;
using qvr::test::UfficioProva;

Q_DECLARE_METATYPE(qvr::ufficio::Campo)

class TestUfficioModello : public QObject {
    Q_OBJECT
private slots:
    void scritture_data();
    void scritture();
    void cambiatoNelFrattempo();
    void utenti();
    void utenteCambiatoNelFrattempo();
    void nominativi_data();
    void nominativi();
    void giornataInAttesaDopo99();
    void marche_data();
    void marche();
    void chiamateDelGiornale();
    void archivioIrraggiungibile();
    void controlloDiUnFileDanneggiato();
    void controlloDelRegistro();
};

void TestUfficioModello::scritture_data() {
    QTest::addColumn<Campo>("campo");
    QTest::addColumn<QVariant>("nuovo");
    QTest::addColumn<QVariant>("scritto"); // as stored
    QTest::newRow("postazione 3 in numerazione singola")
        << Campo::postoModo(3) << QVariant(ModoSingolo) << QVariant(QStringLiteral("SG"));
    QTest::newRow("postazione 10 in numerazione singola")
        << Campo::postoModo(10) << QVariant(ModoSingolo) << QVariant(QStringLiteral("SG"));
    QTest::newRow("utente 7 alla postazione 4")
        << Campo::postoId(4) << QVariant::fromValue<qint32>(7) << QVariant(7);
    QTest::newRow("dopo il 99 standard")
        << Campo::dopo99Standard() << QVariant(true) << QVariant(-1);
    QTest::newRow("dopo il 99 singola") << Campo::dopo99Singola() << QVariant(true) << QVariant(-1);
    QTest::newRow("totem in uso") << Campo::totem() << QVariant(TotemSi)
                                  << QVariant(QStringLiteral("SI"));
    QTest::newRow("display spento") << Campo::display() << QVariant(false) << QVariant(0);
}

// Each value lands with the type and text the stations test: exactly "SG", "SI", -1 for True.
void TestUfficioModello::scritture() {
    QFETCH(Campo, campo);
    QFETCH(QVariant, nuovo);
    QFETCH(QVariant, scritto);
    OpzioniArchivio opzioni;
    UfficioProva u(opzioni);
    // FE starts switched on, so that switching it off is a change.
    u.scriviAltrove(Campo::display(), true);
    const Configurazione prima = leggiConfigurazione(u.archivio());
    const Esito e = scriviCampo(u.archivio(), campo, prima.valore(campo), nuovo);
    QVERIFY(e.scritto);
    const QVariant letto = u.grezzo(campo);
    if (scritto.typeId() == QMetaType::QString) {
        QCOMPARE(letto.typeId(), QMetaType::QString);
        QCOMPARE(letto.toString(), scritto.toString());
    } else {
        QVERIFY2(letto.typeId() != QMetaType::QString, qPrintable(letto.toString()));
        QCOMPARE(letto.toLongLong(), scritto.toLongLong());
    }
    if (!test::suiteSulServer()) {
        const QString tipo = test::interroga(u.ambiente.file(campo.file),
                                             QStringLiteral("SELECT typeof([%1]) FROM [%2]")
                                                 .arg(campo.nome, campo.file == nomi::FileTotem
                                                                      ? nomi::TabConfigurazione
                                                                      : campo.origine))
                                 .toString();
        QCOMPARE(tipo, scritto.typeId() == QMetaType::QString ? QStringLiteral("text")
                                                              : QStringLiteral("integer"));
    }
    // What the window reads back is what it wrote.
    QCOMPARE(leggiConfigurazione(u.archivio()).valore(campo), normalizza(nuovo, campo.tipo));
}

// Another manager (or a station's launcher) changed the field since it was shown: nothing is
// written and the value found comes back.
void TestUfficioModello::cambiatoNelFrattempo() {
    UfficioProva u;
    const Configurazione vista = leggiConfigurazione(u.archivio());
    u.scriviAltrove(Campo::postoModo(3), ModoSingolo);
    u.scriviAltrove(Campo::totem(), TotemSi);
    Esito e = scriviCampo(u.archivio(), Campo::postoModo(3), vista.valore(Campo::postoModo(3)),
                          ModoStandard);
    QVERIFY(!e.scritto);
    QCOMPARE(e.attuale, QVariant(ModoSingolo));
    QCOMPARE(u.grezzo(Campo::postoModo(3)).toString(), ModoSingolo);
    e = scriviCampo(u.archivio(), Campo::totem(), vista.valore(Campo::totem()), TotemNo);
    QVERIFY(!e.scritto);
    QCOMPARE(u.grezzo(Campo::totem()).toString(), TotemSi);
    // Asked again with the value now shown, it is written.
    e = scriviCampo(u.archivio(), Campo::totem(), e.attuale, TotemNo);
    QVERIFY(e.scritto);
    QCOMPARE(u.grezzo(Campo::totem()).toString(), TotemNo);
}

void TestUfficioModello::utenti() {
    UfficioProva u;
    const QString a = u.archivio();
    const QString nome = QStringLiteral("Nicolò D'Angelo-Çelik");
    QVERIFY(aggiungiUtente(a, {42, nome}).scritto());
    QCOMPARE(aggiungiUtente(a, {42, QStringLiteral("Altro")}).tipo, EsitoUtente::IdInUso);
    Configurazione c = leggiConfigurazione(a);
    QVERIFY(c.utente(42));
    QCOMPARE(c.utente(42)->nominativo, nome);

    // Renumbering user 4, who works at station 4: the station follows.
    const Utente quattro = *c.utente(4);
    QCOMPARE(c.postazioniDi(4), QVector<int>{4});
    QCOMPARE(cambiaIdUtente(a, quattro, {4}, 42).tipo, EsitoUtente::IdInUso);
    QVERIFY(cambiaIdUtente(a, quattro, {4}, 40).scritto());
    c = leggiConfigurazione(a);
    QVERIFY(!c.utente(4));
    QCOMPARE(c.utente(40)->nominativo, quattro.nominativo);
    QCOMPARE(u.grezzo(Campo::postoId(4)).toLongLong(), 40);

    // Removing user 40: the station keeps the id; the user is gone.
    QVERIFY(rimuoviUtente(a, *c.utente(40), {4}).scritto());
    c = leggiConfigurazione(a);
    QVERIFY(!c.utente(40));
    QCOMPARE(c.postazioni[3].idUtente, 40);
    QVERIFY(rinominaUtente(a, *c.utente(42), QStringLiteral("Zoë O'Neill")).scritto());
    QCOMPARE(leggiConfigurazione(a).utente(42)->nominativo, QStringLiteral("Zoë O'Neill"));
}

// A change made on a stale view writes nothing.
void TestUfficioModello::utenteCambiatoNelFrattempo() {
    UfficioProva u;
    const QString a = u.archivio();
    const Configurazione vista = leggiConfigurazione(a);
    const Utente tre = *vista.utente(3);
    QVERIFY(rinominaUtente(a, tre, QStringLiteral("Altra finestra")).scritto());
    QCOMPARE(rinominaUtente(a, tre, QStringLiteral("Questa finestra")).tipo, EsitoUtente::Cambiato);
    QCOMPARE(leggiConfigurazione(a).utente(3)->nominativo, QStringLiteral("Altra finestra"));
    // Meanwhile user 5 was put at station 6 too: removing it as shown (station 5 only) is refused.
    const Utente cinque = *vista.utente(5);
    QVERIFY(scriviCampo(a, Campo::postoId(6), 6, 5).scritto);
    QCOMPARE(rimuoviUtente(a, cinque, {5}).tipo, EsitoUtente::Cambiato);
    QCOMPARE(cambiaIdUtente(a, cinque, {5}, 55).tipo, EsitoUtente::Cambiato);
    QVERIFY(leggiConfigurazione(a).utente(5));
}

void TestUfficioModello::nominativi_data() {
    QTest::addColumn<QString>("nome");
    QTest::addColumn<bool>("valido");
    QTest::newRow("accenti e apostrofo") << QStringLiteral("Nicolò D'Angelo") << true;
    QTest::newRow("altre lingue") << QStringLiteral("Zoë Šimić-Ødegård") << true;
    QTest::newRow("50 caratteri") << QString(LunghezzaNominativo, QLatin1Char('a')) << true;
    QTest::newRow("51 caratteri") << QString(LunghezzaNominativo + 1, QLatin1Char('a')) << false;
    QTest::newRow("vuoto") << QString() << false;
    QTest::newRow("solo spazi") << QStringLiteral("   ") << false;
    QTest::newRow("a capo") << QStringLiteral("Mario\nRossi") << false;
    QTest::newRow("tabulazione") << QStringLiteral("Mario\tRossi") << false;
    QTest::newRow("carattere nullo") << QStringLiteral("Mario") + QChar(0) << false;
}

// What is refused never reaches the archive.
void TestUfficioModello::nominativi() {
    QFETCH(QString, nome);
    QFETCH(bool, valido);
    QCOMPARE(motivoNominativoNonValido(nome).isEmpty(), valido);
    if (valido)
        return;
    UfficioProva u;
    QCOMPARE(test::numeroErrore([&] {
                 aggiungiUtente(u.archivio(), {77, nome});
             }),
             Err::TipoNonCorrispondente);
    QVERIFY(!leggiConfigurazione(u.archivio()).utente(77));
}

// The waiting count goes round the sequence after 99 as the consoles count it.
void TestUfficioModello::giornataInAttesaDopo99() {
    OpzioniArchivio o;
    o.dopo99Standard = true;
    o.modi[1] = ModoSingolo;
    o.totem = true;
    UfficioProva u(o);
    const QString a = u.archivio();
    test::esegui(u.ambiente.file(nomi::FileTotem),
                 QStringLiteral("UPDATE [Numerazione] SET [P1] = 3, [P11] = 7"));
    test::esegui(u.ambiente.file(nomi::FileQVRB),
                 QStringLiteral("UPDATE [NumeriCode1] SET [NumeroA1] = 98, [StatoN1] = 3"));
    test::scriviContatoreGrezzo(u.ambiente.file(nomi::FileContatore), "5\r\n");
    const Giornata prima = leggiGiornata(a);
    QCOMPARE(prima.inAttesa[0], 4);  // 3 - 98 + 99
    QCOMPARE(prima.inAttesa[10], 2); // 7 - 5, the single sequence does not wrap
    QCOMPARE(prima.postazioni[0].numero, 98);
    QCOMPARE(prima.postazioni[0].stato, nomi::StatoInCorso);
    QVERIFY(prima.postazioni[1].singola);
    QVERIFY(prima.totem);

    test::esegui(u.ambiente.file(nomi::FileQVRB),
                 QStringLiteral("UPDATE [NumeriCode1] SET [NumeroA1] = 99"));
    test::esegui(u.ambiente.file(nomi::FileQVRA),
                 QStringLiteral("UPDATE [NumerazioneSingle2] SET [NUMERO] = 6, [Stato] = 3"));
    const Giornata dopo = leggiGiornata(a);
    const auto chiamate = chiamateTra(prima, dopo, QDateTime::currentDateTime());
    QCOMPARE(chiamate.size(), 2);
    QCOMPARE(chiamate[0].postazione, 1);
    QCOMPARE(chiamate[0].numero, 99);
    QCOMPARE(chiamate[1].postazione, 2);
    QCOMPARE(chiamate[1].numero, 6);
    QVERIFY(chiamateTra(dopo, dopo, QDateTime::currentDateTime()).isEmpty());
}

void TestUfficioModello::marche_data() {
    QTest::addColumn<QString>("file");
    QTest::addColumn<QString>("sql");
    QTest::newRow("biglietto del totem")
        << nomi::FileTotem << QStringLiteral("UPDATE [Numerazione] SET [P1] = [P1] + 1");
    QTest::newRow("totem acceso") << nomi::FileTotem
                                  << QStringLiteral("UPDATE [Configurazione] SET [RHDSN] = 'SI'");
    QTest::newRow("chiamata") << nomi::FileQVRB
                              << QStringLiteral("UPDATE [NumeriCode1] SET [NumeroA1] = 5");
    QTest::newRow("chiamata in singola")
        << nomi::FileQVRA << QStringLiteral("UPDATE [NumerazioneSingle2] SET [NUMERO] = 6");
    QTest::newRow("utente rinominato")
        << nomi::FileQVR
        << QStringLiteral("UPDATE [Utenti] SET [Nominativo] = 'Nuovo' WHERE [id] = 1");
}

// Every database the day is read from moves the marks the watch polls when it is written, on
// either engine; unwritten, they stay.
void TestUfficioModello::marche() {
    QFETCH(QString, file);
    QFETCH(QString, sql);
    UfficioProva u;
    const Marche prima = leggiMarche(u.archivio());
    QCOMPARE(leggiMarche(u.archivio()), prima);
    test::esegui(u.ambiente.file(file), sql);
    QVERIFY(leggiMarche(u.archivio()) != prima);
}

// Today's calls before the window opened come from the recorder's journal, newest first.
void TestUfficioModello::chiamateDelGiornale() {
    UfficioProva u;
    const QDate oggi = QDate::currentDate();
    QVERIFY(chiamateDelRegistro(u.archivio(), oggi, 10).isEmpty()); // no journal yet
    std::vector<registro::Evento> eventi;
    const auto chiamata = [&](const QDateTime& ora, int postazione, qint32 numero) {
        registro::Evento e = registro::evento(registro::Tipo::Chiamata, ora);
        e.postazione = postazione;
        e.numero = numero;
        eventi.push_back(e);
    };
    const QDateTime mezzogiorno(oggi, QTime(12, 0));
    chiamata(mezzogiorno.addDays(-1), 1, 90); // yesterday's
    for (int i = 1; i <= 4; ++i)
        chiamata(mezzogiorno.addSecs(60 * i), i, 10 + i);
    registro::Evento biglietto = registro::evento(registro::Tipo::Biglietto, mezzogiorno);
    biglietto.sequenza = 1;
    biglietto.numero = 20;
    eventi.push_back(biglietto);
    {
        const auto giornale = registro::deposito(u.archivio());
        giornale->apriScrittura();
        giornale->aggiungi(eventi);
        giornale->chiudi();
    }
    const QVector<Chiamata> c = chiamateDelRegistro(u.archivio(), oggi, 3);
    QCOMPARE(c.size(), 3);
    QCOMPARE(c[0].postazione, 4);
    QCOMPARE(c[0].numero, 14);
    QCOMPARE(c[2].numero, 12);
    QCOMPARE(c[0].ora, mezzogiorno.addSecs(240));
}

void TestUfficioModello::archivioIrraggiungibile() {
    const QString a = test::suiteSulServer()
                          ? QStringLiteral("postgresql://qvr@127.0.0.1:1/nessuno?connect_timeout=2")
                          : QStringLiteral("/nonesiste/archivio");
    const int numero = test::numeroErrore([&] { leggiConfigurazione(a); });
    QCOMPARE(numero, Err::PercorsoNonValido);
    QCOMPARE(test::numeroErrore([&] { scriviCampo(a, Campo::totem(), TotemNo, TotemSi); }),
             Err::PercorsoNonValido);
    QCOMPARE(test::numeroErrore([&] { leggiGiornata(a); }), Err::PercorsoNonValido);
    const Controllo c = controllaArchivio(a);
    QVERIFY(!c.sano);
}

void TestUfficioModello::controlloDiUnFileDanneggiato() {
    UfficioProva u;
    Controllo c = controllaArchivio(u.archivio());
    QVERIFY2(c.sano, qPrintable(c.righe.join(u'\n')));
    QCOMPARE(c.righe.last(), QStringLiteral("Nessun problema trovato."));
    if (test::suiteSulServer()) {
        test::esegui(u.ambiente.file(nomi::FileQVRB), QStringLiteral("DELETE FROM [NumeriCode3]"));
    } else {
        test::scriviFile(u.ambiente.file(nomi::FileQVRB), QByteArray(4096, 'x'));
    }
    c = controllaArchivio(u.archivio());
    QVERIFY(!c.sano);
    const QString testo = c.righe.join(u'\n');
    QVERIFY2(testo.contains(QStringLiteral("QVRB.mdb")), qPrintable(testo));
    QVERIFY2(testo.contains(test::suiteSulServer() ? QStringLiteral("NumeriCode3")
                                                   : QStringLiteral("Errore 3343")),
             qPrintable(testo));
}

// The journal in the check: absent is no problem, present gives its version and last event, a
// damaged file (on a folder) is a problem named as the journal's.
void TestUfficioModello::controlloDelRegistro() {
    UfficioProva u;
    auto righe = [&] { return controllaArchivio(u.archivio()); };
    Controllo c = righe();
    QVERIFY2(c.sano && c.righe.contains(
                           QStringLiteral("Registro: non ancora presente (lo crea qvr-server).")),
             qPrintable(c.righe.join(u'\n')));
    {
        const auto giornale = registro::deposito(u.archivio());
        giornale->apriScrittura();
        std::vector<registro::Evento> v = {
            registro::evento(registro::Tipo::Avvio, QDateTime(QDate(2026, 3, 2), QTime(8, 30)))};
        giornale->aggiungi(v);
    }
    c = righe();
    QVERIFY2(c.sano && c.righe.join(u'\n').contains(QStringLiteral(
                           ": versione 2, ultimo evento n. 1 del 02/03/2026 08:30.")),
             qPrintable(c.righe.join(u'\n')));
    if (test::suiteSulServer())
        return;
    test::scriviFile(QDir(u.archivio()).filePath(registro::NomeFile), QByteArray(4096, 'x'));
    c = righe();
    QVERIFY(!c.sano);
    QVERIFY2(c.righe.join(u'\n').contains(QStringLiteral("Registro: Errore 3343")),
             qPrintable(c.righe.join(u'\n')));
}

QTEST_MAIN(TestUfficioModello)
#include "test_ufficio_modello.moc"
