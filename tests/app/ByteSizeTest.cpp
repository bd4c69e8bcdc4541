// The "Size" column's short byte-size text.
#include <QTest>

#include "app/ByteSize.h"

using quorvex::gui::formatByteSize;

class ByteSizeTest : public QObject {
    Q_OBJECT

  private slots:
    void formatsSizes_data() {
        QTest::addColumn<quint64>("bytes");
        QTest::addColumn<QString>("text");

        QTest::newRow("empty file") << quint64{0} << "0 bytes";
        QTest::newRow("one byte") << quint64{1} << "1 bytes";
        QTest::newRow("largest byte count") << quint64{1023} << "1023 bytes";
        QTest::newRow("one KB") << quint64{1024} << "1.00 KB";
        QTest::newRow("last digit truncated") << quint64{1535} << "1.49 KB";
        QTest::newRow("one and a half KB") << quint64{1536} << "1.50 KB";
        QTest::newRow("just below 10 KB") << quint64{10239} << "9.99 KB";
        QTest::newRow("10 KB, one decimal") << quint64{10240} << "10.0 KB";
        QTest::newRow("12.3 KB") << quint64{12646} << "12.3 KB";
        QTest::newRow("100 KB, no decimals") << quint64{102400} << "100 KB";
        QTest::newRow("999 KB") << quint64{1023999} << "999 KB";
        QTest::newRow("1000 KB moves to MB") << quint64{1024000} << "0.97 MB";
        QTest::newRow("one MB") << quint64{1048576} << "1.00 MB";
        QTest::newRow("245 MB") << quint64{257425408} << "245 MB";
        QTest::newRow("one GB") << quint64{1073741824} << "1.00 GB";
        QTest::newRow("largest 32-bit size") << quint64{4294967295} << "3.99 GB";
        QTest::newRow("beyond 32 bits") << quint64{5368709120} << "5.00 GB";
        QTest::newRow("one TB") << quint64{1099511627776} << "1.00 TB";
        QTest::newRow("largest size") << quint64{18446744073709551615ull} << "15.9 EB";
    }

    void formatsSizes() {
        QFETCH(quint64, bytes);
        QFETCH(QString, text);
        QCOMPARE(QString::fromStdString(formatByteSize(bytes)), text);
    }
};

QTEST_APPLESS_MAIN(ByteSizeTest)
#include "ByteSizeTest.moc"
