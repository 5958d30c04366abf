#include "ui/spin_edit.h"

#include <QLineEdit>
#include <algorithm>

namespace quarrendel::ui {

TSpinEdit::TSpinEdit(QWidget* parent) : QAbstractSpinBox(parent) {
  lineEdit()->setText(QStringLiteral("0"));
  connect(lineEdit(), &QLineEdit::textChanged, this, &TSpinEdit::Change);
}

int32_t TSpinEdit::CheckValue(int32_t value) const {
  if (minValue_ == maxValue_) return value;
  return std::clamp(value, std::min(minValue_, maxValue_), std::max(minValue_, maxValue_));
}

int32_t TSpinEdit::Value() const {
  bool isNumber = false;
  const int parsed = lineEdit()->text().trimmed().toInt(&isNumber);
  return CheckValue(isNumber ? parsed : minValue_);
}

void TSpinEdit::SetValue(int32_t value) {
  const QString text = QString::number(CheckValue(value));
  if (lineEdit()->text() != text) lineEdit()->setText(text);
}

void TSpinEdit::stepBy(int steps) {
  const int64_t next = static_cast<int64_t>(Value()) + steps;
  SetValue(static_cast<int32_t>(std::clamp<int64_t>(next, INT32_MIN, INT32_MAX)));
}

QAbstractSpinBox::StepEnabled TSpinEdit::stepEnabled() const {
  if (minValue_ == maxValue_) return StepUpEnabled | StepDownEnabled;
  const int32_t value = Value();
  StepEnabled enabled = StepNone;
  if (value < std::max(minValue_, maxValue_)) enabled |= StepUpEnabled;
  if (value > std::min(minValue_, maxValue_)) enabled |= StepDownEnabled;
  return enabled;
}

QValidator::State TSpinEdit::validate(QString& input, int&) const {
  for (const QChar c : input) {
    if (c < QLatin1Char('0') || c > QLatin1Char('9')) return QValidator::Invalid;
  }
  return input.isEmpty() ? QValidator::Intermediate : QValidator::Acceptable;
}

}  // namespace quarrendel::ui
