#include "app/Skins.h"

#include <QAction>
#include <QActionGroup>
#include <QApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QGridLayout>
#include <QMenu>
#include <QRegularExpression>
#include <QStringDecoder>
#include <QStyle>
#include <QStyleFactory>
#include <QToolButton>
#include <QWidgetAction>
#include <algorithm>
#include <array>
#include <memory>

namespace velmora {

namespace {

constexpr int kMaxWarnings = 24;
// Longer names are shortened on their button; the tool tip has them whole.
constexpr int kMaxCaptionLength = 40;
const QString kGridName = QStringLiteral("SkinsGrid");
const QString kGroupName = QStringLiteral("SkinsGroup");
const QString kItemPrefix = QStringLiteral("Skin:");

struct RoleName {
  const char* name;
  QPalette::ColorRole role;
};
constexpr std::array<RoleName, 20> kRoles = {{
    {"Window", QPalette::Window},
    {"WindowText", QPalette::WindowText},
    {"Base", QPalette::Base},
    {"AlternateBase", QPalette::AlternateBase},
    {"ToolTipBase", QPalette::ToolTipBase},
    {"ToolTipText", QPalette::ToolTipText},
    {"PlaceholderText", QPalette::PlaceholderText},
    {"Text", QPalette::Text},
    {"Button", QPalette::Button},
    {"ButtonText", QPalette::ButtonText},
    {"BrightText", QPalette::BrightText},
    {"Light", QPalette::Light},
    {"Midlight", QPalette::Midlight},
    {"Mid", QPalette::Mid},
    {"Dark", QPalette::Dark},
    {"Shadow", QPalette::Shadow},
    {"Highlight", QPalette::Highlight},
    {"HighlightedText", QPalette::HighlightedText},
    {"Link", QPalette::Link},
    {"LinkVisited", QPalette::LinkVisited},
}};

struct GroupName {
  const char* name;
  QPalette::ColorGroup group;
};
constexpr std::array<GroupName, 3> kGroups = {{
    {"Active", QPalette::Active},
    {"Inactive", QPalette::Inactive},
    {"Disabled", QPalette::Disabled},
}};

std::optional<QPalette::ColorRole> RoleByName(QStringView name) {
  for (const RoleName& r : kRoles)
    if (name.compare(QLatin1String(r.name), Qt::CaseInsensitive) == 0) return r.role;
  return std::nullopt;
}

std::optional<QPalette::ColorGroup> GroupByName(QStringView name) {
  for (const GroupName& g : kGroups)
    if (name.compare(QLatin1String(g.name), Qt::CaseInsensitive) == 0) return g.group;
  return std::nullopt;
}

// The background a text role is read on.
std::optional<QPalette::ColorRole> BackgroundOf(QPalette::ColorRole text) {
  switch (text) {
    case QPalette::WindowText: return QPalette::Window;
    case QPalette::Text: return QPalette::Base;
    case QPalette::ButtonText: return QPalette::Button;
    default: return std::nullopt;
  }
}

QColor Halfway(const QColor& a, const QColor& b) {
  return QColor((a.red() + b.red() + 1) / 2, (a.green() + b.green() + 1) / 2, (a.blue() + b.blue() + 1) / 2,
                a.alpha());
}

// Qt drops a whole style sheet it cannot parse; unbalanced braces and an
// unterminated comment or string are the usual ways a hand-edited sheet
// breaks, and they are cheap to see.
bool SheetBalanced(const QString& sheet) {
  int depth = 0;
  const qsizetype n = sheet.size();
  for (qsizetype i = 0; i < n; ++i) {
    const QChar c = sheet[i];
    if (c == u'/' && i + 1 < n && sheet[i + 1] == u'*') {
      const qsizetype end = sheet.indexOf(QStringLiteral("*/"), i + 2);
      if (end < 0) return false;
      i = end + 1;
    } else if (c == u'"' || c == u'\'') {
      qsizetype j = i + 1;
      while (j < n && sheet[j] != c && sheet[j] != u'\n') j += sheet[j] == u'\\' ? 2 : 1;
      if (j >= n || sheet[j] != c) return false;
      i = j;
    } else if (c == u'{') {
      ++depth;
    } else if (c == u'}') {
      if (--depth < 0) return false;
    }
  }
  return depth == 0;
}

// Images of a skin (arrows, check marks) lie beside it; Qt would read a
// relative url() from the working folder, so such paths are made absolute.
QString ResolveUrls(const QString& sheet, const QString& folder) {
  static const QRegularExpression url(QStringLiteral(R"(url\(\s*(["']?)([^"')]*)\1\s*\))"));
  const QDir dir(folder);
  QString out;
  qsizetype last = 0;
  bool changed = false;
  QRegularExpressionMatchIterator it = url.globalMatch(sheet);
  while (it.hasNext()) {
    const QRegularExpressionMatch m = it.next();
    const QString path = m.captured(2).trimmed();
    if (path.isEmpty() || path.startsWith(u'/') || path.startsWith(u':') || path.contains(QStringLiteral("://")))
      continue;
    QString absolute = QDir::cleanPath(dir.absoluteFilePath(path));
    absolute.replace(u'\\', QStringLiteral("\\\\")).replace(u'"', QStringLiteral("\\\""));
    out += QStringView(sheet).mid(last, m.capturedStart() - last);
    out += QStringLiteral("url(\"") + absolute + QStringLiteral("\")");
    last = m.capturedEnd();
    changed = true;
  }
  if (!changed) return sheet;
  out += QStringView(sheet).mid(last);
  return out;
}

bool ValidName(const QString& name) {
  return !name.isEmpty() && name != u"." && name != u".." && !name.contains(u'/') && !name.contains(QChar(0));
}

QString SkinPath(const QString& folder, const QString& name) {
  return QDir(folder).filePath(name + QLatin1String(kSkinExtension));
}

// The style a skin is drawn on: its own when this Qt has it, else Fusion.
QString StyleKey(const Skin& skin) {
  if (!skin.style.isEmpty()) {
    for (const QString& key : QStyleFactory::keys())
      if (key.compare(skin.style, Qt::CaseInsensitive) == 0) return key;
  }
  return QString::fromLatin1(kDefaultSkinStyle);
}

// The look before the first skin, and the style last set here (the
// application's style object hides its name behind the style sheet's
// proxy once a sheet is set).
struct Look {
  bool saved = false;
  QString style;
  QPalette palette;
  QString styleSheet;
};
Look& OriginalLook() {
  static Look look;
  return look;
}
QString& StyleInUse() {
  static QString name;
  return name;
}

void UseStyle(const QString& key) {
  if (key.compare(StyleInUse(), Qt::CaseInsensitive) == 0) return;
  if (QStyle* style = QStyleFactory::create(key)) {
    QApplication::setStyle(style);
    StyleInUse() = key;
  }
}

QString ButtonCaption(const QString& name) {
  QString caption = name;
  if (caption.size() > kMaxCaptionLength) {
    qsizetype keep = kMaxCaptionLength - 1;
    // Never split a surrogate pair.
    if (caption[keep - 1].isHighSurrogate()) --keep;
    caption = caption.left(keep) + QChar(0x2026);
  }
  // Button texts take '&' as the mark of a mnemonic; names mean it.
  caption.replace(u'&', QStringLiteral("&&"));
  return caption;
}

void CloseOpenMenus() {
  // The menu bar's menu and its submenus are popups; a bounded loop, so a
  // popup that refuses to close cannot hang the program.
  for (int i = 0; i < 16; ++i) {
    QWidget* popup = QApplication::activePopupWidget();
    if (!popup) return;
    popup->close();
  }
}

QActionGroup* GroupOf(const QMenu* menu) {
  return menu ? menu->findChild<QActionGroup*>(kGroupName, Qt::FindDirectChildrenOnly) : nullptr;
}

}  // namespace

// ---------------------------------------------------------------------------
// Files

QStringList ListSkins(const QString& folder) {
  QStringList names;
  if (folder.isEmpty()) return names;
  const QDir dir(folder);
  const QString ext = QLatin1String(kSkinExtension);
  // The suffix is matched exactly, in lower case: "Dark.skin" and
  // "Dark.SKIN" can never be two skins of the same name.
  const QFileInfoList entries = dir.entryInfoList(QDir::Files | QDir::NoDotAndDotDot, QDir::NoSort);
  for (const QFileInfo& info : entries) {
    const QString file = info.fileName();
    if (!file.endsWith(ext, Qt::CaseSensitive) || file.startsWith(u'.')) continue;
    if (info.size() <= 0 || info.size() > kMaxSkinFileSize) continue;
    names.append(file.chopped(ext.size()));
  }
  std::sort(names.begin(), names.end(), [](const QString& a, const QString& b) {
    const int c = a.compare(b, Qt::CaseInsensitive);
    return c != 0 ? c < 0 : a < b;
  });
  return names;
}

std::optional<Skin> ParseSkin(const QString& name, const QByteArray& content, QString* error) {
  auto fail = [error](const QString& why) -> std::optional<Skin> {
    if (error) *error = why;
    return std::nullopt;
  };
  if (content.isEmpty()) return fail(QStringLiteral("the file is empty"));
  if (content.size() > kMaxSkinFileSize)
    return fail(QStringLiteral("the file is larger than %1 KiB").arg(kMaxSkinFileSize / 1024));
  if (content.contains('\0')) return fail(QStringLiteral("the file is not text"));
  QStringDecoder decode(QStringDecoder::Utf8);
  QString text = decode(content);
  if (decode.hasError()) return fail(QStringLiteral("the file is not UTF-8 text"));
  if (text.startsWith(QChar(0xFEFF))) text.remove(0, 1);

  Skin skin;
  skin.name = name;
  int skipped = 0;
  auto warn = [&](int line, const QString& what) {
    if (skin.warnings.size() < kMaxWarnings)
      skin.warnings.append(QStringLiteral("line %1: %2").arg(line).arg(what));
    else
      ++skipped;
  };
  bool recognised = false;

  qsizetype pos = 0;
  int lineNo = 0;
  while (pos <= text.size()) {
    qsizetype end = text.indexOf(u'\n', pos);
    if (end < 0) end = text.size();
    ++lineNo;
    const QString line = text.mid(pos, end - pos).trimmed();
    pos = end + 1;

    if (line.isEmpty() || line.startsWith(u'#') || line.startsWith(u';')) continue;
    if (line.startsWith(u'[')) {
      if (line.compare(QStringLiteral("[StyleSheet]"), Qt::CaseInsensitive) == 0) {
        skin.styleSheet = pos < text.size() ? text.mid(pos) : QString();
        break;
      }
      warn(lineNo, QStringLiteral("unknown section %1").arg(line));
      continue;
    }
    const qsizetype eq = line.indexOf(u'=');
    if (eq <= 0) {
      warn(lineNo, QStringLiteral("not key=value"));
      continue;
    }
    const QString key = line.left(eq).trimmed();
    const QString value = line.mid(eq + 1).trimmed();
    if (key.compare(QStringLiteral("Style"), Qt::CaseInsensitive) == 0) {
      if (value.isEmpty()) {
        warn(lineNo, QStringLiteral("no style named"));
        continue;
      }
      skin.style = value;
      recognised = true;
      continue;
    }
    SkinColor entry;
    QStringView roleName = key;
    if (const qsizetype dot = key.indexOf(u'.'); dot >= 0) {
      entry.group = GroupByName(QStringView(key).left(dot));
      if (!entry.group) {
        warn(lineNo, QStringLiteral("unknown colour group in \"%1\"").arg(key));
        continue;
      }
      roleName = QStringView(key).mid(dot + 1);
    }
    const std::optional<QPalette::ColorRole> role = RoleByName(roleName);
    if (!role) {
      warn(lineNo, QStringLiteral("unknown key \"%1\"").arg(key));
      continue;
    }
    entry.role = *role;
    entry.color = QColor::fromString(value);
    if (!entry.color.isValid()) {
      warn(lineNo, QStringLiteral("\"%1\" is not a colour").arg(value));
      continue;
    }
    skin.colors.push_back(entry);
    recognised = true;
  }

  if (!skin.styleSheet.trimmed().isEmpty()) {
    if (SheetBalanced(skin.styleSheet)) {
      recognised = true;
    } else {
      skin.styleSheet.clear();
      warn(lineNo, QStringLiteral("the style sheet is left out: its braces, comments or strings are not closed"));
    }
  } else {
    skin.styleSheet.clear();
  }
  if (skipped > 0) skin.warnings.append(QStringLiteral("and %1 more lines skipped").arg(skipped));
  if (!recognised) {
    QString why = QStringLiteral("nothing in the file is a skin setting");
    if (!skin.warnings.isEmpty()) why += QStringLiteral(" (") + skin.warnings.first() + QStringLiteral(")");
    return fail(why);
  }
  return skin;
}

std::optional<Skin> LoadSkin(const QString& folder, const QString& name, QString* error) {
  auto fail = [error](const QString& why) -> std::optional<Skin> {
    if (error) *error = why;
    return std::nullopt;
  };
  if (!ValidName(name)) return fail(QStringLiteral("\"%1\" is not a skin name").arg(name));
  const QString path = SkinPath(folder, name);
  const QFileInfo info(path);
  if (!info.isFile()) return fail(QStringLiteral("%1: no such skin file").arg(path));
  if (info.size() > kMaxSkinFileSize)
    return fail(QStringLiteral("%1: the file is larger than %2 KiB").arg(path).arg(kMaxSkinFileSize / 1024));
  QFile file(path);
  if (!file.open(QIODevice::ReadOnly)) return fail(QStringLiteral("%1: %2").arg(path, file.errorString()));
  // One byte more than allowed, so a file that grew since it was looked at
  // is still refused without reading all of it.
  const QByteArray content = file.read(kMaxSkinFileSize + 1);
  QString why;
  std::optional<Skin> skin = ParseSkin(name, content, &why);
  if (!skin) return fail(QStringLiteral("%1: %2").arg(path, why));
  skin->styleSheet = ResolveUrls(skin->styleSheet, folder);
  return skin;
}

QPalette SkinPalette(const Skin& skin, const QPalette& base) {
  constexpr QPalette::ColorGroup kAll[] = {QPalette::Active, QPalette::Inactive, QPalette::Disabled};
  QPalette p = base;
  // Setting every colour marks it as set, so the desktop's palette cannot
  // show through where the skin is silent.
  for (QPalette::ColorGroup g : kAll)
    for (const RoleName& r : kRoles) p.setColor(g, r.role, base.color(g, r.role));

  std::array<std::optional<QColor>, QPalette::NColorRoles> given;
  for (const SkinColor& c : skin.colors)
    if (!c.group) given[c.role] = c.color;

  for (const RoleName& r : kRoles) {
    if (!given[r.role]) continue;
    p.setColor(QPalette::Active, r.role, *given[r.role]);
    p.setColor(QPalette::Inactive, r.role, *given[r.role]);
    if (!BackgroundOf(r.role)) p.setColor(QPalette::Disabled, r.role, *given[r.role]);
  }
  if (given[QPalette::Button]) {
    const QColor button = *given[QPalette::Button];
    const std::pair<QPalette::ColorRole, QColor> bevel[] = {
        {QPalette::Light, button.lighter(150)}, {QPalette::Midlight, button.lighter(125)},
        {QPalette::Mid, button.darker(150)},    {QPalette::Dark, button.darker(200)},
        {QPalette::Shadow, button.darker(300)},
    };
    for (const auto& [role, color] : bevel)
      if (!given[role])
        for (QPalette::ColorGroup g : kAll) p.setColor(g, role, color);
  }
  for (const RoleName& r : kRoles) {
    const std::optional<QPalette::ColorRole> background = BackgroundOf(r.role);
    if (given[r.role] && background)
      p.setColor(QPalette::Disabled, r.role, Halfway(*given[r.role], p.color(QPalette::Disabled, *background)));
  }
  for (const SkinColor& c : skin.colors)
    if (c.group) p.setColor(*c.group, c.role, c.color);
  return p;
}

// ---------------------------------------------------------------------------
// The application's look

void ApplySkin(const Skin& skin) {
  if (!qApp) return;
  Look& original = OriginalLook();
  if (!original.saved) {
    original.saved = true;
    original.style = QApplication::style()->name();
    original.palette = QApplication::palette();
    original.styleSheet = qApp->styleSheet();
    StyleInUse() = original.style;
  }
  UseStyle(StyleKey(skin));
  // The standard palette of the style in use, not of the sheet's proxy.
  QStyle* style = QStyleFactory::create(StyleInUse());
  const QPalette base = style ? style->standardPalette() : QApplication::style()->standardPalette();
  delete style;
  QApplication::setPalette(SkinPalette(skin, base));
  qApp->setStyleSheet(skin.styleSheet);
}

void ApplyPlainLook() {
  if (!qApp) return;
  const Look& original = OriginalLook();
  if (!original.saved) return;
  // The sheet goes first, so the style is not changed under it.
  qApp->setStyleSheet(QString());
  if (!original.style.isEmpty()) UseStyle(original.style);
  QApplication::setPalette(original.palette);
  qApp->setStyleSheet(original.styleSheet);
}

bool SkinEngine::Select(const QString& name) {
  if (name.isEmpty()) return false;
  QString error;
  std::optional<Skin> skin = LoadSkin(folder_, name, &error);
  if (!skin) {
    qWarning("Skin \"%s\" not loaded: %s", qUtf8Printable(name), qUtf8Printable(error));
    return false;
  }
  const QString path = SkinPath(folder_, name);
  for (const QString& w : skin->warnings) qWarning("%s: %s", qUtf8Printable(path), qUtf8Printable(w));
  if (!skin->style.isEmpty() && StyleKey(*skin).compare(skin->style, Qt::CaseInsensitive) != 0)
    qWarning("%s: no style \"%s\" here, %s instead", qUtf8Printable(path), qUtf8Printable(skin->style),
             kDefaultSkinStyle);
  current_ = name;
  skin_ = std::move(skin);
  if (active_) ApplySkin(*skin_);
  return true;
}

void SkinEngine::SetActive(bool on) {
  active_ = on;
  if (!on)
    ApplyPlainLook();
  else if (skin_)
    ApplySkin(*skin_);
}

// ---------------------------------------------------------------------------
// The "Skins" menu

QActionGroup* FillSkinsMenu(QMenu* menu, const QStringList& names, const QString& current,
                            std::function<void(const QString&)> onSelect) {
  if (!menu) return nullptr;
  menu->clear();  // the grid of an earlier fill, which the menu owns
  delete GroupOf(menu);

  auto* group = new QActionGroup(menu);
  group->setObjectName(kGroupName);
  group->setExclusionPolicy(QActionGroup::ExclusionPolicy::Exclusive);
  if (names.isEmpty()) return group;

  auto* grid = new QWidget;
  grid->setObjectName(kGridName);
  auto* layout = new QGridLayout(grid);
  layout->setContentsMargins(2, 2, 2, 2);
  layout->setHorizontalSpacing(4);
  layout->setVerticalSpacing(1);
  layout->setAlignment(Qt::AlignTop);

  auto select = std::make_shared<std::function<void(const QString&)>>(std::move(onSelect));
  for (qsizetype i = 0; i < names.size(); ++i) {
    const QString& name = names[i];
    auto* item = new QAction(name, group);
    item->setObjectName(kItemPrefix + name);
    item->setCheckable(true);
    item->setIconText(ButtonCaption(name));
    item->setToolTip(name);
    item->setChecked(name == current);
    QObject::connect(item, &QAction::triggered, group, [select, name] {
      if (*select) (*select)(name);
    });

    auto* button = new QToolButton(grid);
    button->setDefaultAction(item);
    button->setAutoRaise(true);
    button->setToolButtonStyle(Qt::ToolButtonTextOnly);
    button->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
    // A click picks the skin, as a menu item does, and then closes the menus.
    QObject::connect(button, &QToolButton::clicked, button, &CloseOpenMenus, Qt::QueuedConnection);
    layout->addWidget(button, static_cast<int>(i % kSkinMenuRows), static_cast<int>(i / kSkinMenuRows));
  }

  auto* cells = new QWidgetAction(menu);
  cells->setObjectName(kGridName);
  cells->setDefaultWidget(grid);
  menu->addAction(cells);
  return group;
}

QAction* FindSkinItem(const QMenu* menu, const QString& name) {
  if (QActionGroup* group = GroupOf(menu))
    for (QAction* a : group->actions())
      if (a->text() == name) return a;
  return nullptr;
}

void CheckSkinItem(const QMenu* menu, const QString& name) {
  if (QAction* item = FindSkinItem(menu, name)) {
    item->setChecked(true);
  } else if (QActionGroup* group = GroupOf(menu)) {
    if (QAction* checked = group->checkedAction()) checked->setChecked(false);
  }
}

std::vector<SkinMenuCell> SkinMenuCells(const QMenu* menu) {
  std::vector<SkinMenuCell> cells;
  QActionGroup* group = GroupOf(menu);
  if (!group) return cells;
  QGridLayout* layout = nullptr;
  for (QAction* a : menu->actions()) {
    auto* wa = qobject_cast<QWidgetAction*>(a);
    if (wa && wa->objectName() == kGridName && wa->defaultWidget())
      layout = qobject_cast<QGridLayout*>(wa->defaultWidget()->layout());
  }
  if (!layout) return cells;
  for (QAction* a : group->actions()) {
    for (int i = 0; i < layout->count(); ++i) {
      auto* button = qobject_cast<QToolButton*>(layout->itemAt(i)->widget());
      if (!button || button->defaultAction() != a) continue;
      int row = 0, column = 0, rowSpan = 0, columnSpan = 0;
      layout->getItemPosition(i, &row, &column, &rowSpan, &columnSpan);
      cells.push_back({a, row, column});
      break;
    }
  }
  return cells;
}

}  // namespace velmora
