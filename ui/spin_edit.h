// A numeric spin field that behaves like the classic one the import-options
// dialog was drawn with: the value lives in the text, a value outside the
// bounds clamps to the nearer bound unless the two bounds are equal (then any
// value stays as set), and text that is not a number reads as the minimum.
// QSpinBox always clamps, hence this small field of our own.
#pragma once

#include <QAbstractSpinBox>
#include <cstdint>

namespace quarrendel::ui {

class TSpinEdit : public QAbstractSpinBox {
  Q_OBJECT

 public:
  explicit TSpinEdit(QWidget* parent = nullptr);

  int32_t MinValue() const { return minValue_; }
  int32_t MaxValue() const { return maxValue_; }
  // Changing a bound leaves the text as it is; the next read checks it.
  void SetMinValue(int32_t value) { minValue_ = value; }
  void SetMaxValue(int32_t value) { maxValue_ = value; }

  // The text as a number, checked against the bounds.
  int32_t Value() const;
  // Writes the checked value as the text.
  void SetValue(int32_t value);

  void stepBy(int steps) override;

 Q_SIGNALS:
  // The text changed: typed, stepped or set.
  void Change();

 protected:
  StepEnabled stepEnabled() const override;
  // Only digits can be typed; an empty field is accepted and reads as the minimum.
  QValidator::State validate(QString& input, int& pos) const override;

 private:
  int32_t CheckValue(int32_t value) const;

  int32_t minValue_ = 0;
  int32_t maxValue_ = 0;
};

}  // namespace quarrendel::ui
