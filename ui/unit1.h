// Unit1: the main window.
#pragma once

#include "framework/controls.h"

class TForm1 : public TForm {
 public:
  TButton* Button1;
  TButton* Button4;
  TEdit* Edit1;
  TComboBox* ComboBox1;
  TEdit* Edit2;
  TEdit* Edit3;
  TButton* Button2;
  TLabel* Label1;

  // Builds the window from its stored layout.
  explicit TForm1(QWidget* parent = nullptr);

  void Button1Click(TObject* Sender);
  void Button2Click(TObject* Sender);
  void Button4Click(TObject* Sender);
};

extern TForm1* Form1;
