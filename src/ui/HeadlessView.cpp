#include "ui/HeadlessView.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <utility>

namespace es {

namespace {

HeadlessDesk* g_desk = nullptr;

int Px(double units, double perUnit) { return static_cast<int>(std::lround(units * perUnit)); }

// The list view's and combo box's sort: case-insensitive comparison of the texts.
bool SortsBefore(const Str& a, const Str& b) { return ToUpper(a) < ToUpper(b); }

class HeadlessPoster final : public IMessagePoster {
 public:
  explicit HeadlessPoster(std::shared_ptr<HeadlessView::Queue> queue) : queue_(std::move(queue)) {}
  bool Post(std::uint32_t message, std::uintptr_t wParam, std::intptr_t lParam) override {
    {
      std::lock_guard<std::mutex> lock(queue_->mutex);
      if (!queue_->open) return false;
      queue_->messages.push_back({message, wParam, lParam});
    }
    queue_->arrived.notify_all();
    return true;
  }

 private:
  std::shared_ptr<HeadlessView::Queue> queue_;
};

}  // namespace

// ---- Desk -------------------------------------------------------------------------

HeadlessDesk::HeadlessDesk() : previousDesk_(g_desk), previousFactory_(SetViewFactory(&CreateHeadlessView)) {
  g_desk = this;
}

HeadlessDesk::~HeadlessDesk() {
  g_desk = previousDesk_;
  SetViewFactory(previousFactory_);
}

void HeadlessDesk::AddScript(int templateId, HeadlessScript script) {
  scripts_.emplace_back(templateId, std::move(script));
}

void HeadlessDesk::AddScript(int templateId, std::function<void(HeadlessView&)> run) {
  AddScript(templateId, HeadlessScript{nullptr, std::move(run)});
}

std::optional<HeadlessScript> HeadlessDesk::TakeScript(int templateId) {
  for (auto it = scripts_.begin(); it != scripts_.end(); ++it) {
    if (it->first != templateId) continue;
    HeadlessScript script = std::move(it->second);
    scripts_.erase(it);
    return script;
  }
  return std::nullopt;
}

int HeadlessDesk::Answer(HeadlessBox box) {
  if (!answers_.empty()) {
    box.answer = answers_.front();
    answers_.pop_front();
  } else if (answerer) {
    box.answer = answerer(box);
  } else {
    box.answer = CautiousAnswer(box.style);
  }
  boxes.push_back(box);
  return box.answer;
}

HeadlessDesk* CurrentHeadlessDesk() { return g_desk; }

int CautiousAnswer(std::uint32_t style) {
  switch (style & 0xF) {
    case 0x0:  // MB_OK
      return kIdOk;
    case 0x2:  // MB_ABORTRETRYIGNORE
      return 3;  // IDABORT
    case 0x4:  // MB_YESNO
      return kIdNo;
    default:  // every other kind has a Cancel button
      return kIdCancel;
  }
}

std::unique_ptr<IDialogView> CreateHeadlessView(WindowHandle parent, int templateId) {
  return std::make_unique<HeadlessView>(parent, templateId);
}

// ---- View: life and loop ------------------------------------------------------------

HeadlessView::HeadlessView(WindowHandle parent, int templateId)
    : parent_(parent), templateId_(templateId), queue_(std::make_shared<Queue>()) {}

HeadlessView::~HeadlessView() {
  std::lock_guard<std::mutex> lock(queue_->mutex);
  queue_->open = false;
  queue_->messages.clear();
}

WindowHandle HeadlessView::Handle() const { return running_ ? const_cast<HeadlessView*>(this) : nullptr; }

void HeadlessView::Build(const templates::DialogTemplate& dialog) {
  controls_.clear();
  for (unsigned i = 0; i < dialog.controlCount; ++i) {
    const templates::ControlTemplate& t = templates::kControls[dialog.firstControl + i];
    Control c;
    c.source = &t;
    c.rect = Rect{Px(t.x, kHeadlessDluX), Px(t.y, kHeadlessDluY), Px(t.x + t.width, kHeadlessDluX),
                  Px(t.y + t.height, kHeadlessDluY)};
    c.text = t.text;
    controls_.push_back(std::move(c));
  }
  caption_ = dialog.caption;
  Rect area{0, 0, 1920, 1040};
  if (g_desk != nullptr) area = g_desk->workArea;
  const int width = Px(dialog.width, kHeadlessDluX) + 2 * kHeadlessFrame;
  const int height = Px(dialog.height, kHeadlessDluY) + kHeadlessCaption + kHeadlessFrame;
  window_ = Rect{area.left, area.top, area.left + width, area.top + height};
  focus_ = 0;
}

int HeadlessView::RunModal(CDialogLogic& logic) {
  if (running_) return -1;
  const templates::DialogTemplate* dialog = templates::FindDialog(templateId_);
  if (dialog == nullptr) return -1;
  Build(*dialog);
  std::optional<HeadlessScript> script;
  if (g_desk != nullptr) {
    g_desk->runs.push_back(templateId_);
    script = g_desk->TakeScript(templateId_);
  }
  {
    std::lock_guard<std::mutex> lock(queue_->mutex);
    queue_->open = true;
    queue_->messages.clear();
  }
  logic_ = &logic;
  running_ = true;
  ended_ = false;
  result_ = kIdCancel;
  logic.AttachView(this);

  struct Close {
    HeadlessView* view;
    ~Close() {
      {
        std::lock_guard<std::mutex> lock(view->queue_->mutex);
        view->queue_->open = false;
        view->queue_->messages.clear();
      }
      view->logic_->AttachView(nullptr);
      view->logic_ = nullptr;
      view->running_ = false;
    }
  } close{this};

  try {
    RunEvents(logic, script);
  } catch (...) {
    // As the real dialog does: the window goes, and the logic frees what its rows hold.
    ended_ = true;
    try {
      logic.OnDestroy();
    } catch (...) {
    }
    throw;
  }
  logic.OnDestroy();
  return result_;
}

void HeadlessView::RunEvents(CDialogLogic& logic, const std::optional<HeadlessScript>& script) {
  if (script && script->beforeInit) script->beforeInit(*this);
  const bool defaultFocus = logic.OnInitDialog();
  if (defaultFocus && focus_ == 0 && !ended_) {
    // The first control that takes the focus, as the dialog manager chooses it.
    for (const Control& c : controls_) {
      if (c.source->kind == templates::ControlKind::kStatic || !c.visible || !c.enabled) continue;
      SetFocusTo(c.source->id);
      break;
    }
  }
  DispatchPosted();
  if (!ended_ && script && script->run) script->run(*this);
  DispatchPosted();
  if (!ended_) {
    // The user closes the window.
    logic.OnCancel();
    DispatchPosted();
  }
  if (!ended_) EndDialog(kIdCancel);
}

void HeadlessView::EndDialog(int result) {
  if (!running_) return;
  ended_ = true;
  result_ = result;
}

void HeadlessView::DispatchPosted() {
  while (Running()) {
    Message m{};
    {
      std::lock_guard<std::mutex> lock(queue_->mutex);
      if (queue_->messages.empty()) return;
      m = queue_->messages.front();
      queue_->messages.pop_front();
    }
    logic_->OnMessage(m.message, m.wParam, m.lParam);
  }
}

bool HeadlessView::Pump(int timeoutMs, const std::function<bool()>& until) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
  for (;;) {
    DispatchPosted();
    if (until && until()) return true;
    if (!Running()) return false;
    std::unique_lock<std::mutex> lock(queue_->mutex);
    if (queue_->messages.empty() &&
        !queue_->arrived.wait_until(lock, deadline, [this] { return !queue_->messages.empty(); })) {
      lock.unlock();
      return until && until();
    }
  }
}

bool HeadlessView::Post(std::uint32_t message, std::uintptr_t wParam, std::intptr_t lParam) {
  return HeadlessPoster(queue_).Post(message, wParam, lParam);
}

std::shared_ptr<IMessagePoster> HeadlessView::Poster() { return std::make_shared<HeadlessPoster>(queue_); }

// ---- The user's actions -------------------------------------------------------------

HeadlessView::Control* HeadlessView::Usable(int id) {
  if (!Running()) return nullptr;
  Control* c = Find(id);
  if (c == nullptr || !c->visible || !c->enabled) return nullptr;
  return c;
}

bool HeadlessView::Click(int id) {
  Control* c = Usable(id);
  if (c == nullptr) return false;
  const templates::ControlKind kind = c->source->kind;
  if (kind != templates::ControlKind::kButton && kind != templates::ControlKind::kCheckBox) return false;
  if (kind == templates::ControlKind::kCheckBox) c->checked = !c->checked;
  SetFocusTo(id);
  if (id == kIdOk) {
    logic_->OnOK();
  } else if (id == kIdCancel) {
    logic_->OnCancel();
  } else {
    logic_->OnCommand(id, Command::kClicked);
  }
  DispatchPosted();
  return true;
}

bool HeadlessView::TypeText(int id, const Str& text) {
  Control* c = Usable(id);
  if (c == nullptr || c->source->kind != templates::ControlKind::kEdit) return false;
  SetFocusTo(id);
  c->text = text;
  DispatchPosted();
  return true;
}

bool HeadlessView::ClickRow(int id, int row, bool extend) {
  Control* c = Usable(id);
  if (c == nullptr || c->source->kind != templates::ControlKind::kListView) return false;
  if (row < 0 || row >= static_cast<int>(c->rows.size())) return false;
  SetFocusTo(id);
  const bool single = (c->source->flags & templates::kSingleSelection) != 0;
  if (extend && !single) {
    // Ctrl+click toggles the row and moves the focus to it.
    const std::uint32_t selected = ItemState(id, row, kLvisSelected) ^ kLvisSelected;
    SetItemState(id, row, kLvisFocused | selected, kLvisFocused | kLvisSelected);
  } else {
    for (int r = 0; r < ItemCount(id); ++r)
      if (r != row) SetItemState(id, r, 0, kLvisSelected);
    SetItemState(id, row, kLvisSelected | kLvisFocused, kLvisSelected | kLvisFocused);
  }
  DispatchPosted();
  return true;
}

bool HeadlessView::DoubleClickRow(int id, int row) {
  if (!ClickRow(id, row)) return false;
  if (!Running()) return true;
  Notify(id, es::Notify::kDoubleClick);
  DispatchPosted();
  return true;
}

bool HeadlessView::ChooseComboItem(int id, int index) {
  Control* c = Usable(id);
  if (c == nullptr || c->source->kind != templates::ControlKind::kCombo) return false;
  if (index < 0 || index >= static_cast<int>(c->items.size())) return false;
  SetFocusTo(id);
  c->curSel = index;
  logic_->OnCommand(id, Command::kSelChange);
  DispatchPosted();
  return true;
}

bool HeadlessView::PressF1() {
  if (!Running()) return false;
  logic_->OnHelp();
  DispatchPosted();
  return true;
}

bool HeadlessView::PressEnter() {
  if (Usable(kIdOk) == nullptr) return false;
  logic_->OnOK();
  DispatchPosted();
  return true;
}

bool HeadlessView::PressEscape() {
  if (!Running()) return false;
  logic_->OnCancel();
  DispatchPosted();
  return true;
}

// ---- Window and controls ------------------------------------------------------------

HeadlessView::Control* HeadlessView::Find(int id) {
  for (Control& c : controls_)
    if (c.source->id == id) return &c;
  return nullptr;
}

const HeadlessView::Control* HeadlessView::Find(int id) const {
  for (const Control& c : controls_)
    if (c.source->id == id) return &c;
  return nullptr;
}

HeadlessView::Control* HeadlessView::FindList(int id) {
  Control* c = Find(id);
  return c != nullptr && c->source->kind == templates::ControlKind::kListView ? c : nullptr;
}

const HeadlessView::Control* HeadlessView::FindList(int id) const {
  const Control* c = Find(id);
  return c != nullptr && c->source->kind == templates::ControlKind::kListView ? c : nullptr;
}

void HeadlessView::MoveWindowTo(const Rect& rect, std::uint32_t flags) {
  Rect next = window_;
  if ((flags & kNoMove) == 0) {
    next.right += rect.left - next.left;
    next.bottom += rect.top - next.top;
    next.left = rect.left;
    next.top = rect.top;
  }
  if ((flags & kNoSize) == 0) {
    next.right = next.left + rect.Width();
    next.bottom = next.top + rect.Height();
  }
  window_ = next;
}

bool HeadlessView::MonitorWorkArea(Rect* area) const {
  if (g_desk == nullptr) {
    *area = Rect{0, 0, 1920, 1040};
    return true;
  }
  if (!g_desk->workAreaAvailable) return false;
  *area = g_desk->workArea;
  return true;
}

void HeadlessView::EnableControl(int id, bool enable) {
  if (Control* c = Find(id)) c->enabled = enable;
}

bool HeadlessView::IsControlEnabled(int id) const {
  const Control* c = Find(id);
  return c != nullptr && c->enabled;
}

void HeadlessView::ShowControl(int id, bool show) {
  if (Control* c = Find(id)) c->visible = show;
}

bool HeadlessView::IsControlVisible(int id) const {
  const Control* c = Find(id);
  return c != nullptr && c->visible;
}

void HeadlessView::SetCheck(int id, bool checked) {
  if (Control* c = Find(id)) c->checked = checked;
}

bool HeadlessView::IsChecked(int id) const {
  const Control* c = Find(id);
  return c != nullptr && c->checked;
}

Str HeadlessView::ControlText(int id) const {
  const Control* c = Find(id);
  return c != nullptr ? c->text : Str();
}

void HeadlessView::SetControlText(int id, const Str& text) {
  if (Control* c = Find(id)) c->text = text;
}

Rect HeadlessView::ControlRect(int id) const {
  const Control* c = Find(id);
  return c != nullptr ? c->rect : Rect{};
}

void HeadlessView::MoveControlTo(int id, const Rect& rect, std::uint32_t flags) {
  Control* c = Find(id);
  if (c == nullptr) return;
  Rect next = c->rect;
  if ((flags & kNoMove) == 0) {
    next.right += rect.left - next.left;
    next.bottom += rect.top - next.top;
    next.left = rect.left;
    next.top = rect.top;
  }
  if ((flags & kNoSize) == 0) {
    next.right = next.left + rect.Width();
    next.bottom = next.top + rect.Height();
  }
  c->rect = next;
}

void HeadlessView::SetFocusTo(int id) {
  const Control* c = Find(id);
  if (c == nullptr || focus_ == id) return;
  focus_ = id;
  if (c->source->kind == templates::ControlKind::kListView) Notify(id, es::Notify::kSetFocus);
}

bool HeadlessView::AutoCompleteOn(int id) const {
  const Control* c = Find(id);
  return c != nullptr && c->autoComplete;
}

void HeadlessView::EnableAutoComplete(int id) {
  if (Control* c = Find(id)) c->autoComplete = true;
}

void HeadlessView::SetWaitCursor(bool on) {
  if (on && !waitCursor_) ++waitCursorCount_;
  waitCursor_ = on;
}

void HeadlessView::Notify(int id, es::Notify code) {
  if (Running()) logic_->OnNotify(id, code);
}

// ---- List views ---------------------------------------------------------------------

void HeadlessView::InsertColumn(int id, int column, const Str& text, int format, int width) {
  Control* c = FindList(id);
  if (c == nullptr || column < 0) return;
  const std::size_t at = std::min<std::size_t>(static_cast<std::size_t>(column), c->columns.size());
  c->columns.insert(c->columns.begin() + static_cast<std::ptrdiff_t>(at), Column{text, format, width});
}

void HeadlessView::SetColumnWidth(int id, int column, int width) {
  Control* c = FindList(id);
  if (c == nullptr || column < 0 || column >= static_cast<int>(c->columns.size())) return;
  c->columns[static_cast<std::size_t>(column)].width = width;
}

int HeadlessView::ColumnCount(int id) const {
  const Control* c = FindList(id);
  return c != nullptr ? static_cast<int>(c->columns.size()) : 0;
}

Str HeadlessView::ColumnText(int id, int column) const {
  const Control* c = FindList(id);
  if (c == nullptr || column < 0 || column >= static_cast<int>(c->columns.size())) return Str();
  return c->columns[static_cast<std::size_t>(column)].text;
}

int HeadlessView::ColumnWidth(int id, int column) const {
  const Control* c = FindList(id);
  if (c == nullptr || column < 0 || column >= static_cast<int>(c->columns.size())) return 0;
  return c->columns[static_cast<std::size_t>(column)].width;
}

// The list's border takes one pixel on each side.
int HeadlessView::ListClientWidth(int id) const {
  const Control* c = FindList(id);
  return c != nullptr ? std::max(0, c->rect.Width() - 2) : 0;
}

int HeadlessView::ListOuterWidth(int id) const {
  const Control* c = FindList(id);
  return c != nullptr ? c->rect.Width() : 0;
}

void HeadlessView::AddListExtendedStyle(int id, std::uint32_t style) {
  if (Control* c = FindList(id)) c->extendedStyle |= style;
}

std::uint32_t HeadlessView::ListExtendedStyle(int id) const {
  const Control* c = FindList(id);
  return c != nullptr ? c->extendedStyle : 0;
}

int HeadlessView::InsertItem(int id, const Str& column0) {
  Control* c = FindList(id);
  if (c == nullptr) return -1;
  auto at = c->rows.end();
  if ((c->source->flags & templates::kSorted) != 0) {
    // After every row that sorts equal, as the list view places it.
    at = std::upper_bound(c->rows.begin(), c->rows.end(), column0,
                          [](const Str& text, const Row& row) { return SortsBefore(text, row.texts[0]); });
  }
  const int index = static_cast<int>(at - c->rows.begin());
  Row row;
  row.texts.push_back(column0);
  c->rows.insert(at, std::move(row));
  return index;
}

void HeadlessView::SetItemText(int id, int row, int column, const Str& text) {
  Control* c = FindList(id);
  if (c == nullptr || row < 0 || row >= static_cast<int>(c->rows.size()) || column < 0) return;
  auto& texts = c->rows[static_cast<std::size_t>(row)].texts;
  if (static_cast<std::size_t>(column) >= texts.size()) texts.resize(static_cast<std::size_t>(column) + 1);
  texts[static_cast<std::size_t>(column)] = text;
}

Str HeadlessView::ItemText(int id, int row, int column) const {
  const Control* c = FindList(id);
  if (c == nullptr || row < 0 || row >= static_cast<int>(c->rows.size()) || column < 0) return Str();
  const auto& texts = c->rows[static_cast<std::size_t>(row)].texts;
  return static_cast<std::size_t>(column) < texts.size() ? texts[static_cast<std::size_t>(column)] : Str();
}

bool HeadlessView::DeleteItem(int id, int row) {
  Control* c = FindList(id);
  if (c == nullptr || row < 0 || row >= static_cast<int>(c->rows.size())) return false;
  c->rows.erase(c->rows.begin() + row);
  return true;
}

void HeadlessView::DeleteAllItems(int id) {
  if (Control* c = FindList(id)) c->rows.clear();
}

int HeadlessView::ItemCount(int id) const {
  const Control* c = FindList(id);
  return c != nullptr ? static_cast<int>(c->rows.size()) : 0;
}

void HeadlessView::SetItemData(int id, int row, std::intptr_t data) {
  Control* c = FindList(id);
  if (c == nullptr || row < 0 || row >= static_cast<int>(c->rows.size())) return;
  c->rows[static_cast<std::size_t>(row)].data = data;
}

std::intptr_t HeadlessView::ItemData(int id, int row) const {
  const Control* c = FindList(id);
  if (c == nullptr || row < 0 || row >= static_cast<int>(c->rows.size())) return 0;
  return c->rows[static_cast<std::size_t>(row)].data;
}

void HeadlessView::ChangeRowState(int id, Control& list, int row, std::uint32_t state, std::uint32_t mask) {
  Row& r = list.rows[static_cast<std::size_t>(row)];
  const std::uint32_t next = (r.state & ~mask) | (state & mask);
  if (next == r.state) return;
  r.state = next;
  Notify(id, es::Notify::kItemChanged);
}

void HeadlessView::SetItemState(int id, int row, std::uint32_t state, std::uint32_t mask) {
  Control* c = FindList(id);
  if (c == nullptr) return;
  mask &= kLvisSelected | kLvisFocused;
  const int count = static_cast<int>(c->rows.size());
  if (row == -1) {  // every row, as LVM_SETITEMSTATE with -1
    for (int r = 0; r < count && FindList(id) == c; ++r)
      if (r < static_cast<int>(c->rows.size())) ChangeRowState(id, *c, r, state, mask);
    return;
  }
  if (row < 0 || row >= count) return;
  const bool single = (c->source->flags & templates::kSingleSelection) != 0;
  // Another row loses the focus (always) or the selection (single selection) first.
  for (int r = 0; r < static_cast<int>(c->rows.size()); ++r) {
    if (r == row) continue;
    std::uint32_t drop = 0;
    if ((mask & state & kLvisFocused) != 0) drop |= kLvisFocused;
    if (single && (mask & state & kLvisSelected) != 0) drop |= kLvisSelected;
    if (drop != 0) ChangeRowState(id, *c, r, 0, drop);
  }
  if (row < static_cast<int>(c->rows.size())) ChangeRowState(id, *c, row, state, mask);
}

std::uint32_t HeadlessView::ItemState(int id, int row, std::uint32_t mask) const {
  const Control* c = FindList(id);
  if (c == nullptr || row < 0 || row >= static_cast<int>(c->rows.size())) return 0;
  return c->rows[static_cast<std::size_t>(row)].state & mask;
}

int HeadlessView::NextSelected(int id, int after) const {
  const Control* c = FindList(id);
  if (c == nullptr) return -1;
  for (int r = std::max(after + 1, 0); r < static_cast<int>(c->rows.size()); ++r)
    if ((c->rows[static_cast<std::size_t>(r)].state & kLvisSelected) != 0) return r;
  return -1;
}

// ---- Combo boxes --------------------------------------------------------------------

int HeadlessView::AddString(int id, const Str& text) {
  Control* c = Find(id);
  if (c == nullptr || c->source->kind != templates::ControlKind::kCombo) return -1;
  auto at = c->items.end();
  if ((c->source->flags & templates::kSorted) != 0) {
    at = std::upper_bound(c->items.begin(), c->items.end(), text,
                          [](const Str& t, const ComboItem& item) { return SortsBefore(t, item.text); });
  }
  const int index = static_cast<int>(at - c->items.begin());
  c->items.insert(at, ComboItem{text, 0});
  if (c->curSel >= index) ++c->curSel;
  return index;
}

int HeadlessView::ComboCount(int id) const {
  const Control* c = Find(id);
  return c != nullptr ? static_cast<int>(c->items.size()) : 0;
}

Str HeadlessView::ComboText(int id, int index) const {
  const Control* c = Find(id);
  if (c == nullptr || index < 0 || index >= static_cast<int>(c->items.size())) return Str();
  return c->items[static_cast<std::size_t>(index)].text;
}

void HeadlessView::SetComboData(int id, int index, std::intptr_t data) {
  Control* c = Find(id);
  if (c == nullptr || index < 0 || index >= static_cast<int>(c->items.size())) return;
  c->items[static_cast<std::size_t>(index)].data = data;
}

std::intptr_t HeadlessView::ComboData(int id, int index) const {
  const Control* c = Find(id);
  if (c == nullptr || index < 0 || index >= static_cast<int>(c->items.size())) return 0;
  return c->items[static_cast<std::size_t>(index)].data;
}

void HeadlessView::SetCurSel(int id, int index) {
  Control* c = Find(id);
  if (c == nullptr) return;
  c->curSel = index >= 0 && index < static_cast<int>(c->items.size()) ? index : -1;
}

int HeadlessView::CurSel(int id) const {
  const Control* c = Find(id);
  return c != nullptr ? c->curSel : -1;
}

// ---- Shell and message boxes --------------------------------------------------------

std::optional<Str> HeadlessView::BrowseForFolder(const Str& initialPath, const Str& title) {
  if (g_desk == nullptr) return std::nullopt;
  g_desk->browses.push_back(HeadlessBrowse{initialPath, title});
  if (g_desk->browseResults.empty()) return std::nullopt;
  std::optional<Str> chosen = std::move(g_desk->browseResults.front());
  g_desk->browseResults.pop_front();
  // The browser's path buffer holds 259 characters and a terminator.
  if (chosen && chosen->size() >= 260) return std::nullopt;
  return chosen;
}

int HeadlessView::MessageBoxId(std::uint32_t stringId, std::uint32_t style) {
  HeadlessBox box{templateId_, stringId, LoadDialogString(stringId), style, 0};
  return g_desk != nullptr ? g_desk->Answer(std::move(box)) : CautiousAnswer(style);
}

int HeadlessView::MessageBoxText(const Str& text, std::uint32_t style) {
  HeadlessBox box{templateId_, 0, text, style, 0};
  return g_desk != nullptr ? g_desk->Answer(std::move(box)) : CautiousAnswer(style);
}

}  // namespace es
