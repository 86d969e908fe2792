#include "res/pictures/pictures.h"

#include <QImage>
#include <QtTest>
#include <functional>

namespace quarn::pictures {
namespace {

using PictureGroup = std::function<QPixmap(int)>;

bool FullyTransparent(const QPixmap& pixmap) {
  const QImage image = pixmap.toImage().convertToFormat(QImage::Format_ARGB32);
  for (int y = 0; y < image.height(); ++y) {
    for (int x = 0; x < image.width(); ++x) {
      if (qAlpha(image.pixel(x, y)) != 0) return false;
    }
  }
  return true;
}

QImage Pixels(const QPixmap& pixmap) {
  return pixmap.toImage().convertToFormat(QImage::Format_ARGB32);
}

// The index of an image equal to an earlier one of the list, or -1 when all differ.
int FirstRepeated(const std::vector<QPixmap>& pixmaps) {
  for (size_t i = 0; i < pixmaps.size(); ++i) {
    for (size_t j = 0; j < i; ++j) {
      if (Pixels(pixmaps[i]) == Pixels(pixmaps[j])) return static_cast<int>(i);
    }
  }
  return -1;
}

std::vector<QPixmap> AllOf(const PictureGroup& group, int count) {
  std::vector<QPixmap> pixmaps;
  for (int index = 0; index < count; ++index) pixmaps.push_back(group(index));
  return pixmaps;
}

}  // namespace

class PicturesTest : public QObject {
  Q_OBJECT

 private slots:
  void IndexedGroups_data() {
    QTest::addColumn<int>("group");
    QTest::addColumn<int>("count");
    QTest::addColumn<int>("side");
    QTest::newRow("toolbar") << 0 << kToolbarImageCount << 32;
    QTest::newRow("tree") << 1 << kTreeImageCount << 16;
    QTest::newRow("list") << 2 << kListImageCount << 16;
  }

  void IndexedGroups() {
    QFETCH(int, group);
    QFETCH(int, count);
    QFETCH(int, side);
    const PictureGroup groups[] = {ToolbarImage, TreeImage, ListImage};
    const PictureGroup& picture = groups[group];
    for (int index = 0; index < count; ++index) {
      const QPixmap pixmap = picture(index);
      QVERIFY2(!pixmap.isNull(), qPrintable(QString::number(index)));
      QCOMPARE(pixmap.deviceIndependentSize().toSize(), QSize(side, side));
    }
    QVERIFY(picture(-1).isNull());
    QVERIFY(picture(count).isNull());
    QVERIFY(picture(1000000).isNull());
    QCOMPARE(FirstRepeated(AllOf(picture, count)), -1);
  }

  void EveryImageButTheBlankOneShowsSomething() {
    for (int index = 0; index < kToolbarImageCount; ++index) {
      QVERIFY2(!FullyTransparent(ToolbarImage(index)), qPrintable(QString::number(index)));
    }
    for (int index = 0; index < kTreeImageCount; ++index) {
      QVERIFY2(!FullyTransparent(TreeImage(index)), qPrintable(QString::number(index)));
    }
    for (int index : {0, 1, 3, 4, 5, 6}) {
      QVERIFY2(!FullyTransparent(ListImage(index)), qPrintable(QString::number(index)));
    }
  }

  void BlankListIconIsFullyTransparentAndVirusIconIsNot() {
    QVERIFY(FullyTransparent(ListImage(2)));
    QVERIFY(!FullyTransparent(ListImage(3)));
  }

  void LargePicturesHaveTheirSizesAndDiffer() {
    const QPixmap logo = Logo();
    QCOMPARE(logo.deviceIndependentSize().toSize(), QSize(100, 25));
    QVERIFY(!FullyTransparent(logo));
    const QPixmap splash = SplashPicture();
    const QPixmap about = AboutPicture();
    QVERIFY(!splash.isNull());
    QVERIFY(!about.isNull());
    QVERIFY(!FullyTransparent(splash));
    QVERIFY(!FullyTransparent(about));
    QVERIFY(Pixels(splash) != Pixels(about));
  }

  void AnimationFramesShareOneSizeAndMove() {
    const std::vector<QPixmap> frames = AnimationFrames();
    QVERIFY(frames.size() >= 2);
    for (const QPixmap& frame : frames) {
      QVERIFY(!frame.isNull());
      QCOMPARE(frame.deviceIndependentSize(), frames.front().deviceIndependentSize());
      QVERIFY(!FullyTransparent(frame));
    }
    QCOMPARE(FirstRepeated(frames), -1);
  }

  void ApplicationIconServesSmallAndLargeSizes() {
    const QIcon icon = ApplicationIcon();
    QVERIFY(!icon.isNull());
    for (int side : {16, 48, 256}) {
      const QPixmap pixmap = icon.pixmap(QSize(side, side));
      QCOMPARE(pixmap.deviceIndependentSize().toSize(), QSize(side, side));
      QVERIFY(!FullyTransparent(pixmap));
    }
  }
};

}  // namespace quarn::pictures

QTEST_MAIN(quarn::pictures::PicturesTest)
#include "pictures_test.moc"
