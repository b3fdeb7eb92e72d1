// The comparison of two responses: marking one request, comparing another with it. Beside the
// fixed menus; the comparison itself is the viewer core's and the comparison window's.
#include <QAction>
#include <QMenu>
#include <QMenuBar>

#include "app/comparison_window.h"
#include "app/frmHaupt.h"
#include "app/request_list_view.h"
#include "view/charset.h"
#include "view/html_format.h"
#include "view/qt_text.h"
#include "view/text_decode.h"
#include "viewer/viewer.h"

namespace korva {

void frmHaupt::createCompareCommands() {
  QMenu* menu = menuBar()->addMenu(QStringLiteral("&Vergleichen"));
  menu->setObjectName(QStringLiteral("mnuVergleichen"));
  auto add = [&](const char* name, const QString& caption, const QKeySequence& key,
                 void (frmHaupt::*handler)()) {
    auto* action = new QAction(caption, this);
    action->setObjectName(QLatin1String(name));
    action->setShortcut(key);
    connect(action, &QAction::triggered, this, handler);
    menu->addAction(action);
    lstRequest->addAction(action);  // the list's context menu
    return action;
  };
  mnuVergleichenVormerken =
      add("mnuVergleichenVormerken", QStringLiteral("Zum Vergleich &vormerken"),
          QKeySequence(Qt::ControlModifier | Qt::Key_M), &frmHaupt::mnuVergleichenVormerken_Click);
  mnuVergleichenVergleichen = add(
      "mnuVergleichenVergleichen", QStringLiteral("Mit vorgemerkter Antwort ver&gleichen"),
      QKeySequence(Qt::ControlModifier | Qt::Key_D), &frmHaupt::mnuVergleichenVergleichen_Click);
}

ComparisonWindow* frmHaupt::comparisonWindow() const { return comparison_.data(); }

void frmHaupt::mnuVergleichenVormerken_Click() {
  if (!viewer_->markSelected()) return;
  const std::size_t row = *viewer_->selectedRow();
  showStatusMessage(QStringLiteral("Zum Vergleich vorgemerkt: ") +
                        toQString(decodeLine(viewer_->capture().rows().entry(row))),
                    5000);
}

void frmHaupt::mnuVergleichenVergleichen_Click() {
  const std::optional<std::size_t> marked = viewer_->markedRow();
  const std::optional<std::size_t> selected = viewer_->selectedRow();
  if (!marked) {
    showStatusMessage(QStringLiteral("Keine Anfrage zum Vergleich vorgemerkt (Strg+M)."), 5000);
    return;
  }
  if (!selected) return;
  // Where the two blocks are; reading them, their filters, decoding and comparison run on the
  // comparison's own thread.
  ComparisonWindow::Side sides[2];
  for (int i = 0; i < 2; ++i) {
    const std::size_t row = i == 0 ? *marked : *selected;
    sides[i].request = toQString(decodeLine(viewer_->capture().rows().entry(row)));
    sides[i].block = viewer_->capture().locate(row);
  }
  ShowOptions filters;
  filters.stripJavaScript = mnuAnsichtEntferneJavaScript->isChecked();
  filters.stripComments = mnuAnsichtEntferneKommentare->isChecked();
  const char* charset = charset_;
  auto settingsFor = [filters, charset](bool formatted) {
    ComparisonSettings settings;
    settings.filters = filters;
    if (formatted) settings.transform = [](std::u16string text) { return formatHtml(text).text; };
    if (charset)
      settings.decode = [charset](std::string_view bytes) {
        return decodeAs(bytes, charset).toStdU16String();
      };
    return settings;
  };
  if (!comparison_) comparison_ = new ComparisonWindow(this);
  comparison_->compare(std::move(sides[0]), std::move(sides[1]), settingsFor);
  comparison_->show();
  comparison_->raise();
  comparison_->activateWindow();
}

}  // namespace korva
