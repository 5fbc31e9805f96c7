#include "workspace/dialogs/WorkSpaceFrm.h"

#include <QComboBox>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLabel>
#include <QPainter>
#include <QPainterPath>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScreen>
#include <QTreeWidget>
#include <QVBoxLayout>

#include <algorithm>

namespace {

QString Q(const std::string& text) {
    return QString::fromLocal8Bit(text.c_str());
}
std::string S(const QString& text) {
    return text.toLocal8Bit().toStdString();
}

// The workspace keeps CR LF line breaks, the text box plain LF.
std::string ToCrLf(const QString& text) {
    QString copy = text;
    copy.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    copy.replace(QChar('\n'), QStringLiteral("\r\n"));
    return S(copy);
}
QString FromCrLf(const std::string& text) {
    QString copy = Q(text);
    copy.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    return copy;
}

QComboBox* DropDown(QWidget* parent, const char* name, const char* toolTip) {
    auto* box = new QComboBox(parent);
    box->setObjectName(QString::fromLatin1(name));
    box->setEditable(false);
    box->setToolTip(QString::fromLatin1(toolTip));
    return box;
}

QLabel* Caption(QWidget* parent, const char* text) {
    return new QLabel(QString::fromLatin1(text), parent);
}

} // namespace

RoundedPanel::RoundedPanel(QWidget* parent) : QFrame(parent) {
    setObjectName("Rounded");
}

int RoundedPanel::CornerSize(const QWidget* widget) {
    // The corner ellipse is as many pixels as a pixel has twips.
    const int dpi = widget ? widget->logicalDpiX() : 96;
    return dpi > 0 ? std::max(1, 1440 / dpi) : 15;
}

void RoundedPanel::resizeEvent(QResizeEvent* event) {
    QFrame::resizeEvent(event);
    const qreal radius = CornerSize(this) / 2.0;
    QPainterPath path;
    path.addRoundedRect(QRectF(rect()), radius, radius);
    setMask(QRegion(path.toFillPolygon().toPolygon()));
}

void RoundedPanel::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    const qreal radius = CornerSize(this) / 2.0;
    painter.setPen(palette().color(QPalette::Mid));
    painter.setBrush(palette().color(QPalette::Midlight));
    painter.drawRoundedRect(QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5), radius, radius);
}

EditorLineEdit::EditorLineEdit(WorkspaceEditor*& editor, EditorField field, QWidget* parent)
    : QLineEdit(parent), m_editor(editor), m_field(field) {
    setToolTip(QString::fromLatin1(WorkspaceEditor::FieldToolTip(field)));
    connect(this, &QLineEdit::textChanged, this, [this] { fitMaxLength(); });
}

void EditorLineEdit::SetLimit(int length) {
    m_limit = std::max(1, length);
    fitMaxLength();
}

void EditorLineEdit::fitMaxLength() {
    // Text longer than a shrunk limit stays whole; only typing is held back.
    setMaxLength(std::max<int>(m_limit, static_cast<int>(text().size())));
}

int EditorLineEdit::KeyCode(const QKeyEvent& event) {
    if (event.matches(QKeySequence::Copy)) return 3;
    if (event.matches(QKeySequence::Paste)) return 22;
    if (event.matches(QKeySequence::Cut)) return 24;
    if (event.matches(QKeySequence::Undo)) return 26;
    if (event.matches(QKeySequence::Redo)) return 25;
    const int key = event.key();
    if (key == Qt::Key_Backspace) return 8;
    // Keys that edit or move without typing a character are not filtered.
    if (key == Qt::Key_Return || key == Qt::Key_Enter || key == Qt::Key_Escape ||
        key == Qt::Key_Tab || key == Qt::Key_Backtab || key == Qt::Key_Delete)
        return -1;
    if ((event.modifiers() & Qt::ControlModifier) && key >= Qt::Key_A && key <= Qt::Key_Z)
        return key - Qt::Key_A + 1;
    const QString text = event.text();
    if (text.isEmpty()) return -1;
    const char16_t c = text.at(0).unicode();
    if (c < 32 && c != 8) return c == 0 ? -1 : c;
    return c <= 255 ? c : 256; // beyond the 8-bit set: no filter accepts it
}

void EditorLineEdit::keyPressEvent(QKeyEvent* event) {
    const int code = KeyCode(*event);
    if (code >= 0 && m_editor != nullptr) {
        const int caret = hasSelectedText() ? selectionStart() : cursorPosition();
        if (m_editor->KeyTyped(m_field, code, caret) == 0) {
            event->accept();
            return;
        }
        const bool typesCharacter = code >= 32;
        if (typesCharacter && static_cast<int>(text().size() - selectedText().size()) >= m_limit) {
            event->accept();
            return;
        }
    }
    QLineEdit::keyPressEvent(event);
}

WorkSpaceFrm::WorkSpaceFrm(WorkspaceClass& workspace, const RegionalSettings& regional,
                           QWidget* parent)
    : QDialog(parent), m_workspace(workspace) {
    setObjectName("WorkSpaceFrm");
    setWindowTitle("Configure Workspace");
    setModal(true);

    tbTitle = new QLineEdit(this);
    tbTitle->setObjectName("tbTitle");
    tbTitle->setToolTip(WorkspaceEditor::FieldToolTip(EditorField::Title));
    cbProtocol = DropDown(this, "cbProtocol", "Select the protocol type");
    cbPort = DropDown(this, "cbPort", "Select COM port");
    cbBaudrate = DropDown(this, "cbBaudrate", "Select baudrate");
    cbChannels = DropDown(this, "cbChannels", "Select the number of channels");
    cbSnap = DropDown(this, "cbSnap", "Whether to syncronise all samples ");
    tbLogInterval = new EditorLineEdit(m_editor, EditorField::LogInterval, this);
    tbLogInterval->setObjectName("tbLogInterval");

    Rounded = new RoundedPanel(this);
    LV = new QTreeWidget(Rounded);
    LV->setObjectName("LV");
    LV->setRootIsDecorated(false);
    LV->setUniformRowHeights(true);
    LV->setSelectionMode(QAbstractItemView::SingleSelection);
    LV->setHeaderLabels({"Channel", "Description", "Station", "Format", "Tare", "Command"});
    LV->header()->setStretchLastSection(true);
    LV->setColumnWidth(0, 60);
    LV->setColumnWidth(1, 170);
    LV->setColumnWidth(2, 90);
    LV->setColumnWidth(3, 80);
    LV->setColumnWidth(4, 80);

    tbStation = new EditorLineEdit(m_editor, EditorField::Station, Rounded);
    tbStation->setObjectName("tbStation");
    tbCaption = new EditorLineEdit(m_editor, EditorField::Caption, Rounded);
    tbCaption->setObjectName("tbCaption");
    tbCommand = new EditorLineEdit(m_editor, EditorField::Command, Rounded);
    tbCommand->setObjectName("tbCommand");
    tbFormat = new EditorLineEdit(m_editor, EditorField::Format, Rounded);
    tbFormat->setObjectName("tbFormat");
    tbTareValue = new EditorLineEdit(m_editor, EditorField::TareValue, Rounded);
    tbTareValue->setObjectName("tbTareValue");
    lblStation = Caption(Rounded, "Station");
    lblStation->setObjectName("Label1_3");

    tbNotes = new QPlainTextEdit(this);
    tbNotes->setObjectName("tbNotes");
    tbNotes->setToolTip(WorkspaceEditor::FieldToolTip(EditorField::Notes));
    tbNotes->setTabChangesFocus(true);
    tbLogDefault = new EditorLineEdit(m_editor, EditorField::LogDefault, this);
    tbLogDefault->setObjectName("tbLogDefault");
    btnOK = new QPushButton("OK", this);
    btnOK->setObjectName("btnOK");
    btnOK->setDefault(true);

    // Title across the top.
    auto* top = new QVBoxLayout(this);
    auto* titleRow = new QHBoxLayout;
    titleRow->addWidget(Caption(this, "Title"));
    titleRow->addWidget(tbTitle, 1);
    top->addLayout(titleRow);

    // Connection and log settings, each under its label.
    auto* settings = new QGridLayout;
    const std::pair<const char*, QWidget*> columns[] = {
        {"Protocol", cbProtocol}, {"COM Port", cbPort}, {"Baudrate", cbBaudrate},
        {"Channels", cbChannels}, {"Snap", cbSnap},     {"Log Interval (ms)", tbLogInterval}};
    int column = 0;
    for (const auto& [label, control] : columns) {
        settings->addWidget(Caption(this, label), 0, column);
        settings->addWidget(control, 1, column);
        ++column;
    }
    settings->setColumnStretch(0, 2);
    top->addLayout(settings);

    // The channel panel: the list, then station, caption and command, with
    // format and tare value under caption and command.
    auto* panel = new QVBoxLayout(Rounded);
    panel->setContentsMargins(10, 10, 10, 10);
    panel->addWidget(LV, 1);
    auto* fields = new QGridLayout;
    fields->addWidget(lblStation, 0, 0);
    fields->addWidget(Caption(Rounded, "Caption"), 0, 1);
    fields->addWidget(Caption(Rounded, "Command"), 0, 2);
    fields->addWidget(tbStation, 1, 0);
    fields->addWidget(tbCaption, 1, 1);
    fields->addWidget(tbCommand, 1, 2);
    fields->addWidget(Caption(Rounded, "Format"), 2, 1);
    fields->addWidget(Caption(Rounded, "Tare Value"), 2, 2);
    fields->addWidget(tbFormat, 3, 1);
    fields->addWidget(tbTareValue, 3, 2);
    fields->setColumnStretch(1, 2);
    fields->setColumnStretch(2, 2);
    panel->addLayout(fields);
    top->addWidget(Rounded, 1);

    top->addWidget(Caption(this, "Notes"));
    top->addWidget(tbNotes);
    tbNotes->setFixedHeight(70);

    auto* bottom = new QHBoxLayout;
    bottom->addWidget(Caption(this, "Log Default Value:"));
    bottom->addWidget(tbLogDefault);
    bottom->addStretch(1);
    bottom->addWidget(btnOK);
    top->addLayout(bottom);
    resize(640, 560);

    WorkspaceEditorForm& form = *this;
    m_editorOwner = std::make_unique<WorkspaceEditor>(workspace, form, regional);
    m_editor = m_editorOwner.get();

    // Selections by hand run the editor's handling; the editor runs it itself
    // for the selections it makes.
    for (auto [box, which] :
         {std::pair{cbProtocol, EditorList::Protocol}, std::pair{cbPort, EditorList::Port},
          std::pair{cbBaudrate, EditorList::Baudrate}, std::pair{cbChannels, EditorList::Channels},
          std::pair{cbSnap, EditorList::Snap}}) {
        const EditorList listId = which;
        connect(box, &QComboBox::activated, this, [this, listId] {
            if (!m_filling) m_editor->ListSelected(listId);
        });
    }
    connect(LV, &QTreeWidget::currentItemChanged, this, [this](QTreeWidgetItem* current) {
        if (m_filling || current == nullptr) return;
        m_editor->RowSelected(LV->indexOfTopLevelItem(current));
    });
    for (auto [edit, which] :
         {std::pair{tbCaption, EditorField::Caption}, std::pair{tbStation, EditorField::Station},
          std::pair{tbFormat, EditorField::Format}, std::pair{tbTareValue, EditorField::TareValue},
          std::pair{tbCommand, EditorField::Command}}) {
        const EditorField fieldId = which;
        connect(edit, &QLineEdit::textChanged, this,
                [this, fieldId] { m_editor->FieldChanged(fieldId); });
    }
    connect(btnOK, &QPushButton::clicked, this, &QDialog::accept);
}

WorkSpaceFrm::~WorkSpaceFrm() = default;

void WorkSpaceFrm::SetFixedInstall(bool fixed) {
    m_fixed = fixed;
    if (m_opened && fixed) m_editor->LockFixedInstall();
}

void WorkSpaceFrm::OpenEditor() {
    if (m_opened) return;
    m_opened = true;
    m_editor->Open(m_fixed);
}

void WorkSpaceFrm::showEvent(QShowEvent* event) {
    OpenEditor();
    QDialog::showEvent(event);
}

void WorkSpaceFrm::done(int result) {
    // OK, Escape and the close box all apply the edits: there is no Cancel.
    if (m_opened) m_editor->Close();
    QDialog::done(result);
}

QComboBox* WorkSpaceFrm::list(EditorList which) const {
    switch (which) {
    case EditorList::Protocol:
        return cbProtocol;
    case EditorList::Port:
        return cbPort;
    case EditorList::Baudrate:
        return cbBaudrate;
    case EditorList::Channels:
        return cbChannels;
    case EditorList::Snap:
        return cbSnap;
    }
    return cbProtocol;
}

QWidget* WorkSpaceFrm::field(EditorField which) const {
    switch (which) {
    case EditorField::Title:
        return tbTitle;
    case EditorField::LogInterval:
        return tbLogInterval;
    case EditorField::Station:
        return tbStation;
    case EditorField::Caption:
        return tbCaption;
    case EditorField::Command:
        return tbCommand;
    case EditorField::Format:
        return tbFormat;
    case EditorField::TareValue:
        return tbTareValue;
    case EditorField::Notes:
        return tbNotes;
    case EditorField::LogDefault:
        return tbLogDefault;
    }
    return tbTitle;
}

void WorkSpaceFrm::SetListEntries(EditorList which, const std::vector<std::string>& entries) {
    QComboBox* box = list(which);
    box->clear();
    for (const std::string& entry : entries)
        box->addItem(Q(entry));
    box->setCurrentIndex(-1);
}

int WorkSpaceFrm::ListCount(EditorList which) const {
    return list(which)->count();
}

std::string WorkSpaceFrm::ListText(EditorList which, int index) const {
    return S(list(which)->itemText(index));
}

int WorkSpaceFrm::ListIndex(EditorList which) const {
    return list(which)->currentIndex();
}

void WorkSpaceFrm::SelectListEntry(EditorList which, int index) {
    list(which)->setCurrentIndex(index);
}

void WorkSpaceFrm::SetListEnabled(EditorList which, bool enabled) {
    list(which)->setEnabled(enabled);
}

std::string WorkSpaceFrm::FieldText(EditorField which) const {
    if (which == EditorField::Notes) return ToCrLf(tbNotes->toPlainText());
    return S(static_cast<QLineEdit*>(field(which))->text());
}

void WorkSpaceFrm::SetFieldText(EditorField which, const std::string& text) {
    if (which == EditorField::Notes) {
        tbNotes->setPlainText(FromCrLf(text));
        return;
    }
    static_cast<QLineEdit*>(field(which))->setText(Q(text));
}

void WorkSpaceFrm::SetFieldEnabled(EditorField which, bool enabled) {
    field(which)->setEnabled(enabled);
}

void WorkSpaceFrm::SetFieldMaxLength(EditorField which, int length) {
    if (auto* edit = qobject_cast<EditorLineEdit*>(field(which)))
        edit->SetLimit(length);
    else if (auto* line = qobject_cast<QLineEdit*>(field(which)))
        line->setMaxLength(length);
}

void WorkSpaceFrm::SetStationCaption(const std::string& label, const std::string& toolTip) {
    lblStation->setText(Q(label));
    tbStation->setToolTip(Q(toolTip));
}

void WorkSpaceFrm::ClearRows() {
    m_filling = true;
    LV->clear();
    m_filling = false;
}

void WorkSpaceFrm::InsertRowAtTop(const std::vector<std::string>& columns) {
    QStringList texts;
    for (const std::string& text : columns)
        texts << Q(text);
    m_filling = true;
    LV->insertTopLevelItem(0, new QTreeWidgetItem(texts));
    m_filling = false;
}

int WorkSpaceFrm::RowCount() const {
    return LV->topLevelItemCount();
}

std::string WorkSpaceFrm::Cell(int row, int column) const {
    const QTreeWidgetItem* item = LV->topLevelItem(row);
    return item ? S(item->text(column)) : std::string();
}

void WorkSpaceFrm::SetCell(int row, int column, const std::string& text) {
    if (QTreeWidgetItem* item = LV->topLevelItem(row)) item->setText(column, Q(text));
}

void WorkSpaceFrm::SelectRow(int row) {
    m_filling = true;
    if (QTreeWidgetItem* item = LV->topLevelItem(row)) LV->setCurrentItem(item);
    m_filling = false;
}
