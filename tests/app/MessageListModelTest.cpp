// The message list model, headless and under Qt's model checker.
#include "MessageListModel.h"

#include <QAbstractItemModelTester>
#include <QSignalSpy>
#include <QTest>

using namespace postvue;

namespace {
TMessageRow Row(int index, bool read) {
  TMessageRow row;
  const std::string number = std::to_string(index);
  row.SubItems = {number, "Yes", "High", "", "Sender " + number, "Subject " + number, "1/1/2004", "1,000"};
  row.ImageIndex = read ? kImageRead : kImageUnread;
  return row;
}

void Fill(TMessageListModel& model, int count) {
  model.BeginUpdate();
  for (int i = 0; i < count; ++i) model.AddRow(Row(i, i % 2 == 0));
  model.EndUpdate();
}
} // namespace

class MessageListModelTest : public QObject {
  Q_OBJECT
private slots:
  void passesModelChecks() {
    TMessageListModel model;
    QAbstractItemModelTester tester(&model, QAbstractItemModelTester::FailureReportingMode::QtTest);
    Fill(model, 5);
    Fill(model, 0);
    Fill(model, 3);
    model.AddRow(Row(3, false));
    QCOMPARE(model.rowCount(), 4);
  }

  // Rows added inside the bracket reach the view at once, when it closes.
  void bracketShowsRowsOnlyWhenClosed() {
    TMessageListModel model;
    Fill(model, 2);
    QSignalSpy resets(&model, &QAbstractItemModel::modelReset);
    QSignalSpy inserts(&model, &QAbstractItemModel::rowsInserted);
    model.BeginUpdate();
    QCOMPARE(model.rowCount(), 0); // the old rows go when the bracket opens
    QCOMPARE(resets.count(), 1);
    for (int i = 0; i < 1000; ++i) model.AddRow(Row(i, true));
    QCOMPARE(model.rowCount(), 0);
    QCOMPARE(inserts.count(), 0);
    model.EndUpdate();
    QCOMPARE(model.rowCount(), 1000);
    QCOMPARE(inserts.count(), 1);
    QCOMPARE(inserts.first().at(1).toInt(), 0);
    QCOMPARE(inserts.first().at(2).toInt(), 999);
    QVERIFY(!model.Updating());
  }

  void cellsAndHeaders_data() {
    QTest::addColumn<int>("column");
    QTest::addColumn<QString>("caption");
    QTest::addColumn<QString>("text");
    QTest::addColumn<int>("alignment");
    const int left = Qt::AlignLeft | Qt::AlignVCenter;
    QTest::newRow("0: empty caption") << 0 << "" << "" << left;
    QTest::newRow("1: #") << 1 << "#" << "7" << int(Qt::AlignHCenter | Qt::AlignVCenter);
    QTest::newRow("2") << 2 << "Attachment" << "Yes" << left;
    QTest::newRow("3") << 3 << "Priority" << "High" << left;
    QTest::newRow("4") << 4 << "Flag" << "" << left;
    QTest::newRow("5") << 5 << "Sender" << "Sender 7" << left;
    QTest::newRow("6") << 6 << "Subject" << "Subject 7" << left;
    QTest::newRow("7") << 7 << "Received" << "1/1/2004" << left;
    QTest::newRow("8: right") << 8 << "Size [B]" << "1,000" << int(Qt::AlignRight | Qt::AlignVCenter);
  }
  void cellsAndHeaders() {
    QFETCH(int, column);
    QFETCH(int, alignment);
    TMessageListModel model;
    QCOMPARE(model.columnCount(), 9);
    Fill(model, 8);
    QTEST(model.headerData(column, Qt::Horizontal).toString(), "caption");
    QTEST(model.data(model.index(7, column)).toString(), "text");
    QCOMPARE(model.data(model.index(7, column), Qt::TextAlignmentRole).value<Qt::Alignment>().toInt(), alignment);
    QCOMPARE(model.headerData(column, Qt::Horizontal, Qt::TextAlignmentRole).value<Qt::Alignment>().toInt(), alignment);
    QCOMPARE(model.data(model.index(7, column), TMessageListModel::ImageIndexRole).toInt(), kImageUnread);
    QCOMPARE(model.data(model.index(6, column), TMessageListModel::ImageIndexRole).toInt(), kImageRead);
    QVERIFY(!(model.flags(model.index(7, column)) & Qt::ItemIsEditable));
  }
};

QTEST_GUILESS_MAIN(MessageListModelTest)
#include "MessageListModelTest.moc"
