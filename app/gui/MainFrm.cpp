#include "gui/MainFrm.h"

#include "controls/ColourValue.h"
#include "controls/LCDModule.h"
#include "controls/TableContainer.h"
#include "gui/QtMessageBoxes.h"
#include "gui/StatisticsFrm.h"
#include "trend/TrendWindow.h"
#include "window/FormEventsQt.h"
#include "workspace/IniFile.h"
#include "workspace/dialogs/FileDialogsQt.h"
#include "workspace/dialogs/WorkSpaceFrm.h"

#include <QApplication>
#include <QCloseEvent>
#include <QEventLoop>
#include <QFrame>
#include <QHBoxLayout>
#include <QLabel>
#include <QLayout>
#include <QMenuBar>
#include <QMouseEvent>
#include <QPixmap>
#include <QTimer>

#include <cmath>

// Qt resources of a static library are registered by hand.
static void RegisterResources() {
    Q_INIT_RESOURCE(Tarnvik);
}

namespace {

// The status strip is the band the table container leaves below its tiles,
// less the caption allowance.
constexpr int StatusPanelTwips = 920 - 300;

QString Q(const std::string& s) {
    return QString::fromLocal8Bit(s.data(), int(s.size()));
}

TwipSize Twips(const QSize& s) {
    return {PixelsToTwips(s.width()), PixelsToTwips(s.height())};
}

} // namespace

MainFrm::MainFrm(MainFrameServices services, QWidget* parent) : QMainWindow(parent) {
    RegisterResources();
    setObjectName("MainFrm");
    setWindowTitle("24 Channel Vexa Logger");

    m_client = new QWidget(this);
    setCentralWidget(m_client);
    m_tc = new TableContainer(m_client);
    m_tc->setObjectName("TC");
    m_tc->move(0, 0);
    auto* pattern = new LCDModule(m_tc);
    pattern->setObjectName("Disp");
    pattern->setIndex(0);
    pattern->setDigits(7);
    pattern->setBackColor(Sys3DLight);
    pattern->setForeColor(SysWindowText);
    pattern->hide();
    m_disp.push_back(pattern);
    BuildStatusStrip();

    if (!services.boxes) {
        m_ownBoxes = std::make_unique<QtMessageBoxes>(this);
        services.boxes = m_ownBoxes.get();
    }
    if (!services.fileDialogs) {
        m_ownDialogs = std::make_unique<QtFileDialogService>(this);
        services.fileDialogs = m_ownDialogs.get();
    }
    if (!services.editor) services.editor = this;
    if (!services.timers) {
        services.timers = [](std::function<void()> tick, bool precise) {
            return std::make_unique<QtTimer>(std::move(tick),
                                             precise ? Qt::PreciseTimer : Qt::CoarseTimer);
        };
    }
    m_logic = std::make_unique<MainFrameLogic>(*this, std::move(services));
    BuildMenu();
}

MainFrm::~MainFrm() {
    if (m_busy) QApplication::restoreOverrideCursor();
}

bool MainFrm::Startup() {
    return m_logic->Startup();
}

QAction* MainFrm::AddEntry(QMenu* menu, const char* name, const char* caption,
                           const char* shortcut) {
    QAction* a = menu->addAction(QString::fromUtf8(caption));
    a->setObjectName(name);
    if (shortcut) a->setShortcut(QKeySequence(QString::fromLatin1(shortcut)));
    m_menu[name] = a;
    return a;
}

void MainFrm::BuildMenu() {
    QMenu* file = menuBar()->addMenu("&File");
    file->setObjectName("mnuFile");
    QAction* open = AddEntry(file, "mnuopen", "&Open Workspace", "Ctrl+O");
    QAction* save = AddEntry(file, "mnuSave", "&Save Workspace", "Ctrl+S");
    QAction* blank = file->addSeparator();
    blank->setObjectName("mnublank");
    m_menu["mnublank"] = blank;
    QAction* exit = AddEntry(file, "mnuExit", "E&xit", "Ctrl+X");

    QMenu* edit = menuBar()->addMenu("&Edit");
    edit->setObjectName("mnuEdit");
    QAction* configure = AddEntry(edit, "mnuEditWorkspace", "Configure &Workspace", "Ctrl+C");

    QMenu* logging = menuBar()->addMenu("&Logging");
    logging->setObjectName("mnuLogging");
    QAction* start = AddEntry(logging, "mnuStartLog", "&Start Logging", "Ctrl+L");
    QAction* stop = AddEntry(logging, "mnuStopLog", "S&top Logging", "Ctrl+T");
    QAction* view = AddEntry(logging, "mnuViewLog", "&View Last Log", "Ctrl+V");
    stop->setEnabled(false);

    QMenu* comms = menuBar()->addMenu("&Communications");
    comms->setObjectName("mnuComms");
    QAction* retry = AddEntry(comms, "mnuRetry", "&Retry", "Ctrl+R");
    retry->setEnabled(false);
    QAction* statistics = AddEntry(comms, "mnuStatistics", "Statistics\u2026", nullptr);

    m_commands = {{MenuCommand::Retry, retry},        {MenuCommand::StartLog, start},
                  {MenuCommand::StopLog, stop},       {MenuCommand::ConfigureWorkspace, configure},
                  {MenuCommand::OpenWorkspace, open}, {MenuCommand::ViewLog, view}};

    connect(open, &QAction::triggered, this, [this] { m_logic->OpenWorkspace(); });
    connect(save, &QAction::triggered, this, [this] { m_logic->SaveWorkspace(); });
    connect(exit, &QAction::triggered, this, &QWidget::close);
    connect(configure, &QAction::triggered, this, [this] { m_logic->ConfigureWorkspace(); });
    connect(start, &QAction::triggered, this, [this] { m_logic->StartStopLogging(); });
    connect(stop, &QAction::triggered, this, [this] { m_logic->StartStopLogging(); });
    connect(view, &QAction::triggered, this, [this] { m_logic->ViewLastLog(); });
    connect(retry, &QAction::triggered, this, [this] { m_logic->Retry(); });
    connect(statistics, &QAction::triggered, this, &MainFrm::ShowStatistics);
    AddTrendCommands(this, logging, comms, {[this] { return TilePass(Workspace(), State()); }, {}},
                     *m_logic->Services().boxes, [this] { return Q(m_logic->LogFolder()); });
}

void MainFrm::BuildStatusStrip() {
    m_statusPanel = new QFrame(m_client);
    m_statusPanel->setObjectName("StatusPanel");
    m_statusPanel->setFrameShape(QFrame::StyledPanel);
    m_statusPanel->setFixedHeight(TwipsToPixels(StatusPanelTwips));
    m_logLabel = new QLabel(m_statusPanel);
    m_logLabel->setObjectName("LogLabel");
    m_logLabel->move(4, 0);

    m_buttonBar = new QWidget(m_statusPanel);
    m_buttonBar->setObjectName("ButtonBar");
    auto* bar = new QHBoxLayout(m_buttonBar);
    bar->setContentsMargins(4, 2, 2, 2);
    m_vers = new QLabel(m_buttonBar);
    m_vers->setObjectName("Vers");
    m_logo = new QLabel(m_buttonBar);
    m_logo->setObjectName("ImageLogo");
    m_logo->setText("<b>VEXA</b>");
    m_logo->setCursor(Qt::PointingHandCursor);
    m_sizer = new QLabel(m_buttonBar);
    m_sizer->setObjectName("Sizer");
    m_sizer->setText(QString::fromUtf8("\u25e2"));
    m_sizer->setCursor(Qt::SizeFDiagCursor);
    m_sizer->setAlignment(Qt::AlignRight | Qt::AlignBottom);
    bar->addWidget(m_vers);
    bar->addWidget(m_logo);
    bar->addWidget(m_sizer, 0, Qt::AlignBottom);
    m_statusPanel->installEventFilter(this);
    m_logo->installEventFilter(this);
    m_sizer->installEventFilter(this);
}

void MainFrm::LayOutStatusStrip() {
    const int panelHeight = m_statusPanel->height();
    m_statusPanel->setGeometry(0, m_client->height() - panelHeight, m_client->width(), panelHeight);
    m_statusPanel->raise();
    m_buttonBar->adjustSize();
    m_buttonBar->move(m_statusPanel->contentsRect().width() - m_buttonBar->width(), 0);
    m_buttonBar->resize(m_buttonBar->width(), panelHeight);
    m_logLabel->resize(std::max(0, m_client->width() - m_logLabel->x() - m_buttonBar->width()),
                       panelHeight);
}

bool MainFrm::eventFilter(QObject* watched, QEvent* event) {
    if (watched == m_statusPanel && event->type() == QEvent::Resize) {
        LayOutStatusStrip();
    } else if (event->type() == QEvent::MouseButtonPress &&
               static_cast<QMouseEvent*>(event)->button() == Qt::LeftButton) {
        if (watched == m_logo) {
            m_logic->LogoClicked();
            return true;
        }
        if (watched == m_sizer && m_formX) {
            m_formX->BeginSizeDrag(formevents::HTBOTTOMRIGHT);
            return true;
        }
    }
    return QMainWindow::eventFilter(watched, event);
}

// --- WindowSurface ---

void MainFrm::SetLogLabel(const std::string& text) {
    m_logLabel->setText(Q(text));
    m_logLabel->setToolTip(Q(text));
}

void MainFrm::SetBusyPointer(bool busy) {
    if (busy == m_busy) return;
    m_busy = busy;
    if (busy)
        QApplication::setOverrideCursor(Qt::WaitCursor);
    else
        QApplication::restoreOverrideCursor();
}

void MainFrm::ProcessPendingEvents() {
    QCoreApplication::processEvents();
}

bool MainFrm::IsShift() {
    return QGuiApplication::queryKeyboardModifiers().testFlag(Qt::ShiftModifier);
}

void MainFrm::EnableMenu(MenuCommand command, bool enabled) {
    if (const auto it = m_commands.find(command); it != m_commands.end())
        it->second->setEnabled(enabled);
}

std::string MainFrm::TileTitle(int tile) {
    const LCDModule* t = Tile(tile);
    return t ? t->Title().toLocal8Bit().toStdString() : std::string();
}

void MainFrm::SetTile(int tile, const std::string& value, uint32_t backColour) {
    LCDModule* t = Tile(tile);
    if (!t || tile == 0) return;
    t->setValue(Q(value));
    t->setBackColor(backColour);
}

void MainFrm::SetTileTip(int tile, const std::string& tip) {
    LCDModule* t = Tile(tile);
    if (!t || tile == 0) return;
    const QString text = Q(tip);
    if (t->toolTip() != text) t->setToolTip(text);
}

void MainFrm::ShowStatistics() {
    if (!m_statistics)
        m_statistics = new StatisticsFrm(Core(), Workspace(), m_logic->Services().clock, this);
    m_statistics->show();
    m_statistics->raise();
    m_statistics->activateWindow();
}

bool MainFrm::IsMinimised() {
    return isMinimized();
}

void MainFrm::FreezeDrawing() {
    setUpdatesEnabled(false);
}

void MainFrm::ReleaseDrawing() {
    setUpdatesEnabled(true);
    if (isVisible()) repaint();
}

// --- MainWindowSurface ---

void MainFrm::SetCaption(const std::string& caption) {
    setWindowTitle(Q(caption));
}

void MainFrm::SetMenuVisible(MenuItem item, bool visible) {
    static const std::map<MenuItem, std::string> names = {
        {MenuItem::OpenWorkspace, "mnuopen"},
        {MenuItem::SaveWorkspace, "mnuSave"},
        {MenuItem::Separator, "mnublank"},
        {MenuItem::ConfigureWorkspace, "mnuEditWorkspace"}};
    Menu(names.at(item))->setVisible(visible);
}

void MainFrm::SetVersionLabel(const std::string& text) {
    m_vers->setText(Q(text));
}

void MainFrm::SetLogoTooltip(const std::string& text) {
    m_logo->setToolTip(Q(text));
}

void MainFrm::SetWindowIcon() {
    QIcon icon;
    for (int size : {16, 32, 48, 128})
        icon.addFile(QString(":/AAA/%1.png").arg(size), QSize(size, size));
    setWindowIcon(icon);
    QApplication::setWindowIcon(icon);
}

bool MainFrm::LoadLogo(const std::string& path) {
    QPixmap picture;
    if (!picture.load(Q(path))) return false;
    m_logo->setPixmap(
        picture.scaledToHeight(std::max(1, m_statusPanel->height() - 6), Qt::SmoothTransformation));
    return true;
}

void MainFrm::RemoveTiles() {
    while (m_disp.size() > 1) {
        delete m_disp.back();
        m_disp.pop_back();
    }
}

void MainFrm::CreateTile(int index, const std::string& title, const std::string& value) {
    const LCDModule* pattern = m_disp[0];
    auto* tile = new LCDModule(m_tc);
    tile->setObjectName(QString("Disp%1").arg(index));
    tile->setIndex(index);
    tile->resize(pattern->size());
    tile->setDigits(pattern->Digits());
    tile->setBackColor(pattern->BackColor());
    tile->setForeColor(pattern->ForeColor());
    tile->setTitle(Q(title));
    tile->setValue(Q(value));
    tile->show();
    connect(tile, &LCDModule::Zero, this, [this, index] { m_logic->Tare(index); });
    if (static_cast<int>(m_disp.size()) <= index) m_disp.resize(index + 1, nullptr);
    m_disp[index] = tile;
}

LCDModule* MainFrm::Tile(int index) const {
    return index >= 0 && index < static_cast<int>(m_disp.size()) ? m_disp[index] : nullptr;
}

QAction* MainFrm::Menu(const std::string& name) const {
    const auto it = m_menu.find(name);
    return it == m_menu.end() ? nullptr : it->second;
}

TwipSize MainFrm::OuterSize() {
    return Twips(frameGeometry().size());
}

TwipSize MainFrm::InnerSize() {
    if (layout()) layout()->activate();
    return Twips(m_client->size());
}

void MainFrm::SetOuterSize(TwipSize size) {
    const QSize frame = frameGeometry().size() - geometry().size();
    const QSize inner(std::max(1, TwipsToPixels(size.width) - frame.width()),
                      std::max(1, TwipsToPixels(size.height) - frame.height()));
    if (m_formX) {
        QtFormEvents::ProgramGeometry own(*m_formX);
        resize(inner);
    } else {
        resize(inner);
    }
    if (layout()) layout()->activate();
    m_frameSeen = frameGeometry().size() - QWidget::size();
}

TwipSize MainFrm::LayoutTiles() {
    m_tc->Refresh();
    return Twips(m_tc->size());
}

TwipSize MainFrm::PlaceContainer(TwipSize size) {
    m_tc->setGeometry(0, 0, TwipsToPixels(size.width), TwipsToPixels(size.height));
    m_tc->Refresh();
    LayOutStatusStrip();
    return Twips(m_tc->size());
}

void MainFrm::WaitForEvents(double maxMs) {
    // Short slices: the caller measures the time on its own clock.
    constexpr double SliceMs = 50;
    QEventLoop loop;
    QTimer::singleShot(std::max(1, static_cast<int>(std::ceil(std::min(maxMs, SliceMs)))), &loop,
                       &QEventLoop::quit);
    loop.exec();
}

void MainFrm::DisableInput() {
    setEnabled(false);
}

void MainFrm::AttachHooks() {
    if (!m_formX) m_formX = std::make_unique<QtFormEvents>(this, this);
}

void MainFrm::DetachHooks() {
    if (m_formX) m_formX->Release();
}

void MainFrm::ShowWindow() {
    show();
}

// --- window events ---

void MainFrm::NCHitTest(std::int16_t, std::int16_t, std::int32_t& hitCode) {
    hitCode = MainFrameLogic::HitTest(hitCode);
}

void MainFrm::Resizing(std::int32_t& x1, std::int32_t& y1, std::int32_t& x2, std::int32_t& y2,
                       std::int16_t draggedBorder) {
    m_logic->Resizing(x1, y1, x2, y2, draggedBorder);
    // The resize that follows releases the freeze; when the snapped size is
    // the one the window already has, no resize follows.
    QTimer::singleShot(0, this, [this] {
        if (!updatesEnabled()) ReleaseDrawing();
    });
}

void MainFrm::resizeEvent(QResizeEvent* event) {
    QMainWindow::resizeEvent(event);
    m_logic->FormResize();
    CheckFrame();
}

void MainFrm::moveEvent(QMoveEvent* event) {
    QMainWindow::moveEvent(event);
    CheckFrame();
}

void MainFrm::showEvent(QShowEvent* event) {
    QMainWindow::showEvent(event);
    CheckFrame();
}

void MainFrm::CheckFrame() {
    if (!isVisible() || isMinimized() || State().Closing) return;
    const QSize frame = frameGeometry().size() - size();
    if (frame == m_frameSeen) return;
    m_frameSeen = frame;
    m_logic->FrameChanged();
}

void MainFrm::closeEvent(QCloseEvent* event) {
    if (m_unloaded) {
        event->accept();
        return;
    }
    if (m_logic->QueryUnload()) {
        event->ignore();
        return;
    }
    m_unloaded = true;
    m_logic->Unload();
    event->accept();
}

void MainFrm::EditWorkspace(WorkspaceClass& ws, bool fixedInstall) {
    WorkSpaceFrm frm(ws, m_logic->Services().facts.regional, this);
    frm.SetFixedInstall(fixedInstall);
    frm.exec();
}
