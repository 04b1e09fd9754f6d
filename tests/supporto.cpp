#include "supporto.h"

#include "app/gestione.h"
#include "app/globali.h"
#include "archive/errori.h"

#include <QDir>
#include <QFile>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QTest>
#include <QUuid>

#include <stdexcept>

namespace qvr::test {

AmbienteProva::AmbienteProva(const OpzioniArchivio& opzioni, bool crea) {
    if (!m_dir.isValid())
        throw std::runtime_error("cartella temporanea non creata");
    m_vecchiaCartella = QDir::currentPath();
    QDir::setCurrent(m_dir.path());
    QDir().mkpath(archivio());
    if (crea)
        creaArchivio(archivio(), opzioni);
    azzeraValoriGlobali();
}

AmbienteProva::~AmbienteProva() {
    QDir::setCurrent(m_vecchiaCartella);
    azzeraValoriGlobali();
}

QString AmbienteProva::cartella() const {
    return m_dir.path();
}
QString AmbienteProva::archivio() const {
    return m_dir.path() + QStringLiteral("/archivio");
}
QString AmbienteProva::file(const QString& nome) const {
    return archivio() + QLatin1Char('/') + nome;
}

void AmbienteProva::scriviPercorsi(int postazione) const {
    QFile f(m_dir.path() + QStringLiteral("/percorsi.txt"));
    if (!f.open(QIODevice::WriteOnly))
        throw std::runtime_error("percorsi.txt non scritto");
    f.write(QStringLiteral("\"%1\",%2\r\n").arg(archivio()).arg(postazione).toUtf8());
}

UscitaIntercettata::UscitaIntercettata() {
    auto volte = m_volte;
    auto codice = m_codice;
    impostaUscita([volte, codice](int c) {
        ++*volte;
        *codice = c;
    });
}

UscitaIntercettata::~UscitaIntercettata() {
    ripristinaUscita();
}

namespace {
template <typename F> auto conDb(const QString& fileDb, F&& f) {
    const QString nome = QUuid::createUuid().toString();
    QVariant risultato;
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), nome);
        db.setDatabaseName(fileDb);
        if (!db.open())
            throw std::runtime_error(db.lastError().text().toStdString());
        QSqlQuery q(db);
        risultato = f(q);
        q.finish();
        db.close();
    }
    QSqlDatabase::removeDatabase(nome);
    return risultato;
}
} // namespace

QByteArray contenuto(const QString& file) {
    QFile f(file);
    if (!f.open(QIODevice::ReadOnly))
        return QByteArrayLiteral("<mancante>");
    return f.readAll();
}

void scriviFile(const QString& file, const QByteArray& dati) {
    QFile f(file);
    QVERIFY(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
    QCOMPARE(f.write(dati), dati.size());
}

int numeroErrore(const std::function<void()>& lavoro, QString* dettaglio) {
    try {
        lavoro();
    } catch (const ErroreQvr& e) {
        if (dettaglio)
            *dettaglio = e.dettaglio();
        return e.numero();
    }
    return 0;
}

QVariant interroga(const QString& fileDb, const QString& sql) {
    return conDb(fileDb, [&](QSqlQuery& q) {
        if (!q.exec(sql))
            throw std::runtime_error((sql + ": " + q.lastError().text()).toStdString());
        return q.next() ? q.value(0) : QVariant();
    });
}

void esegui(const QString& fileDb, const QString& sql) {
    conDb(fileDb, [&](QSqlQuery& q) {
        if (!q.exec(sql))
            throw std::runtime_error((sql + ": " + q.lastError().text()).toStdString());
        return QVariant();
    });
}

QString cartellaProgrammiTest() {
    return QStringLiteral(QVR_TEST_BIN_DIR) + QStringLiteral("/tests");
}
QString cartellaBuild() {
    return QStringLiteral(QVR_TEST_BIN_DIR);
}

} // namespace qvr::test
