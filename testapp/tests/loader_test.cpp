// Which driver file the program loads: the versioned name before the build tree's link, from a
// program folder that holds either or both, and the file that LUMENORD_LIBRARY names before all.
#include <QFile>
#include <QTemporaryDir>
#include <QtTest>

#include "driver_entries.h"

class LoaderTest : public QObject {
    Q_OBJECT
private slots:
    void loadsTheFirstNamePresent_data();
    void loadsTheFirstNamePresent();
};

void LoaderTest::loadsTheFirstNamePresent_data() {
    QTest::addColumn<QStringList>("present");
    QTest::addColumn<QString>("named");
    QTest::addColumn<QString>("loaded");
    const QString versioned = "libLumenord.so.1", link = "libLumenord.so", other = "other.so";
    QTest::newRow("install: versioned only") << QStringList{versioned} << "" << versioned;
    QTest::newRow("build tree: both") << QStringList{link, versioned} << "" << versioned;
    QTest::newRow("link only") << QStringList{link} << "" << link;
    QTest::newRow("LUMENORD_LIBRARY first") << QStringList{versioned, other} << other << other;
}

void LoaderTest::loadsTheFirstNamePresent() {
    QFETCH(QStringList, present);
    QFETCH(QString, named);
    QFETCH(QString, loaded);
    QTemporaryDir folder;
    for (const QString& name : present)
        QVERIFY(QFile::link(QString::fromUtf8(LUMENORD_LIBRARY_PATH), folder.filePath(name)));
    if (named.isEmpty())
        qunsetenv("LUMENORD_LIBRARY");
    else
        qputenv("LUMENORD_LIBRARY", QFile::encodeName(folder.filePath(named)));

    shell::DriverLibrary library;
    QVERIFY(library.Load(folder.path()));
    QCOMPARE(library.LoadedPath(), folder.filePath(loaded));
    shell::DriverEntries entries;
    library.Bind(entries);
    QVERIFY(entries.PinPad_EnablePort != nullptr);
    QVERIFY(library.MessagePumpHook() != nullptr);
    QVERIFY(library.LastFailureEntry() != nullptr);
}

QTEST_GUILESS_MAIN(LoaderTest)
#include "loader_test.moc"
