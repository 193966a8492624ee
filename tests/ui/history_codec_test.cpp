// The stored form of a field's history: its literal bytes, and damaged
// bytes that must never be read past.
#include "ui/history_codec.h"

#include <QtTest>

#include "ui_test_support.h"

namespace torquelin {

namespace {

QByteArray Bytes(const std::vector<uint8_t>& data) {
  return QByteArray(reinterpret_cast<const char*>(data.data()),
                    static_cast<qsizetype>(data.size()));
}

std::optional<HistoryList> Decode(const QByteArray& bytes) {
  return DecodeHistory(reinterpret_cast<const uint8_t*>(bytes.constData()),
                       static_cast<size_t>(bytes.size()));
}

}  // namespace

class HistoryCodecTest : public QObject {
  Q_OBJECT

 private slots:
  void storedBytesFollowTheArchiveLayout_data() {
    QTest::addColumn<QStringList>("list");
    QTest::addColumn<QByteArray>("expectedHex");
    QTest::newRow("two entries") << QStringList{"ab", "C:\\x"}
                                 << QByteArray(
                                        "0200"
                                        "fffeff02"
                                        "61006200"
                                        "fffeff04"
                                        "43003a005c007800");
    QTest::newRow("no entries") << QStringList{} << QByteArray("0000");
    QTest::newRow("one empty entry") << QStringList{""}
                                     << QByteArray(
                                            "0100"
                                            "fffeff00");
    QTest::newRow("beyond Latin-1") << QStringList{QString::fromUtf16(u"\u00e9\u20ac")}
                                    << QByteArray(
                                           "0100"
                                           "fffeff02"
                                           "e900ac20");
    QTest::newRow("254 units: one length byte") << QStringList{QString(254, 'a')}
                                                << QByteArray(
                                                       "0100"
                                                       "fffeff"
                                                       "fe") +
                                                       QByteArray("6100").repeated(254);
    QTest::newRow("255 units: FF and a 16-bit length") << QStringList{QString(255, 'a')}
                                                       << QByteArray(
                                                              "0100"
                                                              "fffeff"
                                                              "ffff00") +
                                                              QByteArray("6100").repeated(255);
  }
  void storedBytesFollowTheArchiveLayout() {
    QFETCH(QStringList, list);
    QFETCH(QByteArray, expectedHex);
    const QByteArray encoded = Bytes(EncodeHistory(ToHistory(list)));
    QCOMPARE(encoded.toHex(), expectedHex);
    const auto decoded = Decode(encoded);
    QVERIFY(decoded.has_value());
    QCOMPARE(ToStrings(*decoded), list);
  }

  // Every prefix of a valid value and every single damaged byte must decode
  // without reading outside the data; a cut value is never accepted.
  void cutOrFlippedBytesNeverOverRead() {
    const QByteArray valid = Bytes(EncodeHistory(ToHistory({"one", QString(300, 'x'), ""})));
    for (qsizetype n = 0; n < valid.size(); ++n) QVERIFY(!Decode(valid.left(n)).has_value());
    for (qsizetype i = 0; i < valid.size(); ++i) {
      for (int bit = 0; bit < 8; ++bit) {
        QByteArray damaged = valid;
        damaged[i] = static_cast<char>(damaged[i] ^ (1 << bit));
        Decode(damaged);  // any answer will do; it must simply not over-read
      }
    }
  }
};

}  // namespace torquelin

QTEST_MAIN(torquelin::HistoryCodecTest)
#include "history_codec_test.moc"
