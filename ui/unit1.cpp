#include "ui/unit1.h"

#include "framework/form_layout.h"
#include "ui/unit1_layout.h"

TForm1* Form1 = nullptr;

TForm1::TForm1(QWidget* parent) : TForm(parent) {
  LoadLayout(*this, Form1Layout(),
             {{"Button1Click", MakeNotify(this, &TForm1::Button1Click)},
              {"Button2Click", MakeNotify(this, &TForm1::Button2Click)},
              {"Button4Click", MakeNotify(this, &TForm1::Button4Click)}});
  Button1 = FindComponent<TButton>(*this, "Button1");
  Button4 = FindComponent<TButton>(*this, "Button4");
  Edit1 = FindComponent<TEdit>(*this, "Edit1");
  ComboBox1 = FindComponent<TComboBox>(*this, "ComboBox1");
  Edit2 = FindComponent<TEdit>(*this, "Edit2");
  Edit3 = FindComponent<TEdit>(*this, "Edit3");
  Button2 = FindComponent<TButton>(*this, "Button2");
  Label1 = FindComponent<TLabel>(*this, "Label1");
}

void TForm1::Button1Click(TObject* /*Sender*/) {}

void TForm1::Button2Click(TObject* /*Sender*/) {}

void TForm1::Button4Click(TObject* /*Sender*/) {
  Close();
}
