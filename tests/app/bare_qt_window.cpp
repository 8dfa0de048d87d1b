// The baseline of the start-up benchmark: a bare Qt window of the same size
// as the program's, that writes "painted" to the file named by its argument
// when it has first painted.
#include <QApplication>
#include <QPainter>
#include <QWidget>

#include <cstdio>

namespace {

class BareWindow : public QWidget {
public:
  explicit BareWindow(const char *marker) : marker_(marker) {}

protected:
  void paintEvent(QPaintEvent *) override {
    QPainter painter(this);
    painter.fillRect(rect(), Qt::white);
    if (marker_) {
      if (FILE *f = fopen(marker_, "w")) {
        fputs("painted\n", f);
        fclose(f);
      }
      marker_ = nullptr;
    }
  }

private:
  const char *marker_;
};

} // namespace

int main(int argc, char **argv) {
  QApplication app(argc, argv);
  BareWindow window(argc > 1 ? argv[1] : nullptr);
  window.resize(480, 640);
  window.show();
  return app.exec();
}
