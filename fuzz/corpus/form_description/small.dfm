object Form1: TForm1
  Caption = 'Ровенд' + ' настройка'
  ClientWidth = 354
  ClientHeight = -185
  Font.Style = [fsBold, fsItalic]
  OnActivate = FormActivate
  object Button1: TButton
    Left = 8
    Caption = 'It''s'
    OnClick = Button1Click
  end
  object Timer1: TTimer
    Interval = 1500
    OnTimer = Timer1Timer
  end
end
