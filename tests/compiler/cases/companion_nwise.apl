⍝ The APL text of the library's N-wise reduction, compiled, against the built-in one
⍝ MAIN: NWISE
∇NWISE;V;M
V←1 2 3 4 5
M←3 4⍴⍳12
⎕←2 (+WIN) V
⎕←2+/V
⎕←¯2 (-WIN) V
⎕←¯2-/V
⎕←3 (×WIN) M
⎕←3×/M
⎕←0 (+WIN) V
⎕←0+/V
∇
∇Z←N (F WIN) R;K;A;B;W;V;⎕IO
⎕IO←1 ⋄ K←⍴⍴R
A←K↑⍴R
B←K↓⍴R
→(N≠0)/7
Z←F/[K+1]((¯1↓A),(1+¯1↑A),0,B)⍴R
→0
V←N≥0
→V/10
R←⌽[K]R ⋄ N←-N
W←N/[K+1](A,1,B)⍴R
W←(((¯1↓A),N,B)⍴(×/B)/¯1+⍳N)⌽[K]W
Z←(1-N)↓[K]F/[K+1]W
→V/0
Z←⌽[K]Z
∇
