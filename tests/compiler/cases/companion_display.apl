⍝ The APL text of the library's DISPLAY, compiled, against the built-in ⎕DISPLAY
⍝ MAIN: PICTURES
∇PICTURES
⎕←PICT 2 3⍴⍳6
⎕←⎕DISPLAY 2 3⍴⍳6
⎕←PICT 'abc' (1 2) (2 2⍴'wxyz')
⎕←⎕DISPLAY 'abc' (1 2) (2 2⍴'wxyz')
⎕←PICT 2 2 2⍴⍳8
⎕←⎕DISPLAY 2 2 2⍴⍳8
⎕←PICT 5
⎕←⎕DISPLAY 5
⎕←PICT ⍳0
⎕←⎕DISPLAY ⍳0
∇
∇D←S PICT A;R;C;HL;HC;HT;HB;VL;VB;V;W;N;B;⎕IO
⍝ The boxed picture of an array: the edges mark the axes (→ ↓, or ⊖ ⌽
⍝ when empty), the bottom edge the data (- characters, ~ numbers,
⍝ + mixed, ∊ nested). S: the shape the marks describe, ⍴A by default.
⎕IO←0
→(0≠⎕NC'S')/7
S←⍴A
R←↑⍴,S
C←'..··'
HL←'-'
HC←HL,'⊖→',HL,'~+∊'
⍝ top: the last axis; left: the one before; bottom: the kind of data
VL←'|'
VB←VL,'⌽↓'
HT←HC[(0<R)×1+0<↑¯1↑,S]
HB←HC[3+3⌊('2×~A≡⍕A'⎕EA'1+↑∊0×(1⌈×/⍴A)↑,A')+3×1<⍴⍴S]
V←VB[(1<R)×1+0<↑¯2↑,S]
→(0<×/⍴A)/19
A←(1⌈⍴A)⍴⊂↑A
→(1<≡A)/GEN
→(2<⍴⍴A)/D3
D←⍕A
D←(¯2↑1 1,⍴D)⍴D
W←↑⍴D
N←¯1+↑¯1↑⍴D
→(0=⍴⍴A)/SS
D←(C[0],V,((W-1)⍴VL),C[2]),((HT,N⍴HL),[0]D,[0]HB,N⍴HL),C[1],(W⍴VL),C[3]
→(3>⍴⍴A)/0
D3E:N←¯2+⍴⍴A
D←((N⍴C[0]),[0]VB[1+0<N↑,S],[0]((((↑⍴D)-3),N)⍴VL),[0]N⍴C[2]),D
→0
D3:D←0 ¯1↓0 1↓⍕⊂A
→22
GEN:D←⍕PICT¨A
B←∧/' '=D
D←(~B∧1⌽~B)⌿D
D←(~∧⌿'  '⍷D)/D
D←((1,⍴S)⍴S)PICT D
→D3E×2<⍴⍴A
SS:HB←' -'[' '≡↑0⍴A]
D←' ',(' ',[0]D,[0]HB,N⍴' '),' '

∇
